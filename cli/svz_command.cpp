// tessarex 7z pack|pack1|pack-solid|unpack|unpack1|unpack-solid|list|add|delete|split|join
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "cli/family.h"
#include "tessarex.h"

namespace tx::cli {

namespace {

constexpr Named kMethods[] = {{"copy", TESSAREX_7Z_COPY},
                              {"deflate", TESSAREX_7Z_DEFLATE},
                              {"bzip2", TESSAREX_7Z_BZIP2},
                              {"lzma", TESSAREX_7Z_LZMA}};
constexpr Named kBcjModes[] = {{"never", TESSAREX_7Z_BCJ_NEVER},
                               {"always", TESSAREX_7Z_BCJ_ALWAYS},
                               {"auto", TESSAREX_7Z_BCJ_BY_EXTENSION}};
constexpr Named kGroupings[] = {{"none", TESSAREX_7Z_GROUP_NONE},
                                {"executables", TESSAREX_7Z_GROUP_EXECUTABLES},
                                {"extension", TESSAREX_7Z_GROUP_EXTENSION}};

const char* kUsage =
    "usage: tessarex [OPTIONS] 7z COMMAND ...\n"
    "  7z pack ARCHIVE SOURCE       pack a file, a folder or a wildcard pattern, one folder\n"
    "                               per file (svz_pack2)\n"
    "  7z pack-solid ARCHIVE SOURCE pack in solid blocks (svz_pack3)\n"
    "  7z pack1 ARCHIVE FILE        pack exactly one file (svz_pack1)\n"
    "  7z unpack ARCHIVE [--to DIR] [--filter PATTERN]   extract any archive, solid blocks\n"
    "                               too (svz_unpack3; DIR is made when missing)\n"
    "  7z unpack-nonsolid ARCHIVE [--to DIR] [--filter PATTERN]   extract an archive of one\n"
    "                               folder per file (svz_unpack2)\n"
    "  7z unpack1 ARCHIVE [--to DIR]   extract a one-entry archive (svz_unpack1)\n"
    "  7z list ARCHIVE              print the listing (svz_list)\n"
    "  7z add DESTINATION SOURCE [--filter PATTERN] [--replace-always|--replace-newer]\n"
    "                               copy SOURCE's entries into DESTINATION, entry by entry\n"
    "                               (svz_add; by default only names DESTINATION lacks); with\n"
    "                               --folders whole folders, solid blocks too (svz_add2)\n"
    "  7z delete ARCHIVE --filter PATTERN [--folders]   remove the entries PATTERN matches\n"
    "                               (svz_delete; --folders: a solid block only when it\n"
    "                               matches all its files, svz_delete2)\n"
    "  7z split FILE --volume-size N [--to DIR] [--delete-source]   cut FILE into volumes\n"
    "                               FILE.001, FILE.002, ... of N bytes (at least 1024; svz_split)\n"
    "  7z join FILE.001 [--to DIR] [--delete-volumes]   join the volumes into FILE; DIR is\n"
    "                               where they are and where FILE goes (svz_join)\n"
    "pack options: --method copy|deflate|bzip2|lzma (lzma)  --level 1-9 (5)\n"
    "  --bcj never|always|auto (auto: .exe .dll .ocx .sfx .sys)  --creation-times\n"
    "  --plain-header  --header-method copy|deflate|bzip2|lzma (lzma)\n"
    "  --encrypt-header (on when a password is given; --plain-header turns both off)\n"
    "  --cycles-power N (19)  --salt-size 0-16 (0)  --iv-size 0-16 (16)\n"
    "  --demand-encryption  --list-file (SOURCE is a list file)\n"
    "update options: --work-folder DIR (checked; the new archive is written beside the old)\n"
    "solid options: --grouping none|executables|extension (none)\n"
    "  --block-files N (0: no limit)  --block-bytes N (0: no limit)\n"
    "common: --password P, --password-file F (its first line) or --password-fd N\n"
    "  (the first line read from descriptor N), or --ask-password before the command\n";

constexpr OptionSpec kOptions[] = {
    {"--to", Kind::Text},
    {"--filter", Kind::Text},
    {"--method", Kind::Choice, nullptr, kMethods},
    {"--level", Kind::Number},
    {"--bcj", Kind::Choice, nullptr, kBcjModes},
    {"--creation-times", Kind::Flag},
    {"--plain-header", Kind::Flag},
    {"--header-method", Kind::Choice, nullptr, kMethods},
    {"--encrypt-header", Kind::Flag},
    {"--cycles-power", Kind::Number},
    {"--salt-size", Kind::Number},
    {"--iv-size", Kind::Number},
    {"--demand-encryption", Kind::Flag},
    {"--list-file", Kind::Flag},
    {"--grouping", Kind::Choice, nullptr, kGroupings},
    {"--block-files", Kind::Number},
    {"--block-bytes", Kind::Number},
    {"--volume-size", Kind::Number},
    {"--delete-source", Kind::Flag},
    {"--delete-volumes", Kind::Flag},
    {"--replace-always", Kind::Flag, "replace", {}, TESSAREX_7Z_ADD_ALWAYS},
    {"--replace-newer", Kind::Flag, "replace", {}, TESSAREX_7Z_ADD_NEWER},
    {"--folders", Kind::Flag},
    {"--work-folder", Kind::Text},
};

int Pack(const CommonOptions& common, std::string_view name, Parsed& a) {
  const char* password = a.password.get();
  // A password is given to encrypt, and then the names are hidden too unless asked not to.
  bool encrypt = password || (common.flags & TESSAREX_FLAG_ASK_PASSWORD);
  uint32_t header = 0;
  if (!a.Given("plain-header")) {
    header = TESSAREX_7Z_COMPRESS_HEADER;
    if (encrypt || a.Given("encrypt-header")) header |= TESSAREX_7Z_ENCRYPT_HEADER;
  }
  uint32_t options[16] = {a.Value("demand-encryption"),
                          common.flags,
                          a.Value("method", TESSAREX_7Z_LZMA),
                          a.Value("level", 5),
                          a.Value("bcj", TESSAREX_7Z_BCJ_BY_EXTENSION),
                          a.Value("creation-times"),
                          header,
                          a.Value("header-method", TESSAREX_7Z_LZMA),
                          encrypt ? 1u : 0u,
                          a.Value("cycles-power", 19),
                          a.Value("salt-size", 0),
                          a.Value("iv-size", 16),
                          a.Value("list-file"),
                          a.Value("grouping"),
                          a.Value("block-files"),
                          a.Value("block-bytes")};
  const char* archive = a.positional[0];
  bool tree = name != "pack1";
  std::string source = tree && !options[12] ? PackSource(a.positional[1]) : a.positional[1];
  uint32_t code = name == "pack1"        ? svz_pack1(nullptr, archive, source.c_str(), password, options)
                  : name == "pack-solid" ? svz_pack3(nullptr, archive, source.c_str(), password, options)
                                         : svz_pack2(nullptr, archive, source.c_str(), password, options);
  return Outcome(archive, code);
}

int Unpack(const CommonOptions& common, std::string_view name, Parsed& a) {
  if (!MakeOutputFolder(a.Text("to"))) return 1;
  uint32_t options[2] = {a.Value("demand-encryption"), common.flags};
  const char* archive = a.positional[0];
  const char* to = a.Text("to");
  const char* password = a.password.get();
  uint32_t code = name == "unpack1" ? svz_unpack1(nullptr, archive, to, password, options)
                  : name == "unpack-nonsolid"
                      ? svz_unpack2(nullptr, archive, to, a.Text("filter"), password, options)
                      : svz_unpack3(nullptr, archive, to, a.Text("filter"), password, options);
  return Outcome(archive, code);
}

int List(const CommonOptions& common, std::string_view, Parsed& a) {
  uint32_t options[1] = {common.flags};
  return PrintListing(a.positional[0], [&](char* buffer, uint32_t size) {
    return svz_list(nullptr, a.positional[0], a.password.get(), buffer, size, options);
  });
}

int Add(const CommonOptions& common, std::string_view, Parsed& a) {
  uint32_t options[2] = {common.flags, a.Value("replace")};
  const char* archive = a.positional[0];
  auto add = a.Given("folders") ? svz_add2 : svz_add;
  return Outcome(archive, add(nullptr, archive, a.positional[1], a.Text("work-folder"), a.Text("filter"),
                              a.password.get(), options));
}

int Delete(const CommonOptions& common, std::string_view, Parsed& a) {
  // Without a filter every entry would go; that is asked for with --filter '*'.
  if (a.Text("filter") == nullptr) return UsageError(kUsage, "delete needs --filter PATTERN");
  uint32_t options[1] = {common.flags};
  const char* archive = a.positional[0];
  auto remove = a.Given("folders") ? svz_delete2 : svz_delete;
  return Outcome(archive, remove(nullptr, archive, a.Text("work-folder"), a.Text("filter"), a.password.get(),
                                 options));
}

int Split(const CommonOptions& common, std::string_view, Parsed& a) {
  if (!a.Given("volume-size")) return UsageError(kUsage, "split needs --volume-size N");
  uint32_t options[3] = {common.flags, a.Value("delete-source"), a.Value("volume-size")};
  return Outcome(a.positional[0], svz_split(nullptr, a.positional[0], a.Text("to"), options));
}

int Join(const CommonOptions& common, std::string_view, Parsed& a) {
  uint32_t options[2] = {common.flags, a.Value("delete-volumes")};
  return Outcome(a.positional[0], svz_join(nullptr, a.positional[0], a.Text("to"), options));
}

constexpr Subcommand kCommands[] = {
    {"pack", 2, "pack needs ARCHIVE and SOURCE", Pack},
    {"pack-solid", 2, "pack-solid needs ARCHIVE and SOURCE", Pack},
    {"pack1", 2, "pack1 needs ARCHIVE and FILE", Pack},
    {"unpack", 1, "unpack needs ARCHIVE", Unpack},
    {"unpack-nonsolid", 1, "unpack-nonsolid needs ARCHIVE", Unpack},
    {"unpack1", 1, "unpack1 needs ARCHIVE", Unpack},
    {"list", 1, "list needs ARCHIVE", List},
    {"add", 2, "add needs DESTINATION and SOURCE", Add},
    {"delete", 1, "delete needs ARCHIVE", Delete},
    {"split", 1, "split needs FILE", Split},
    {"join", 1, "join needs FILE.001", Join},
};

}  // namespace

int SvzCommand(const CommonOptions& common, int argc, char** argv) {
  return RunFamily({"7z", kUsage, kOptions, kCommands}, common, argc, argv);
}

}  // namespace tx::cli
