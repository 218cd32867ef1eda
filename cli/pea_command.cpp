// tessarex pea pack|pack1|unpack|unpack1|list|split|join
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "cli/family.h"
#include "tessarex.h"

namespace tx::cli {

namespace {

constexpr Named kChecks[] = {{"none", 0},    {"adler32", 1},    {"crc32", 2},    {"crc64", 3},
                             {"md5", 16},    {"ripemd160", 17}, {"sha1", 18},    {"sha256", 19},
                             {"sha512", 20}, {"whirlpool", 21}, {"hmac128", 48}, {"eax128", 49},
                             {"eax256", 65}};
constexpr Named kCompressions[] = {{"copy", 0}, {"store", 0}, {"fast", 1}, {"normal", 2}, {"better", 3}};
constexpr Named kTimes[] = {{"dos", 16}, {"unix", 48}};

const char* kUsage =
    "usage: tessarex [OPTIONS] pea COMMAND ...\n"
    "  pea pack ARCHIVE SOURCE      pack a file, a folder or a wildcard pattern (pea_pack2)\n"
    "  pea pack --list-file ARCHIVE LIST   pack the names of a list file (pea_pack2)\n"
    "  pea pack1 ARCHIVE FILE       pack exactly one file (pea_pack1)\n"
    "  pea unpack ARCHIVE [--to DIR] [--filter PATTERN]   extract (pea_unpack2;\n"
    "                               DIR is made when missing)\n"
    "  pea unpack1 ARCHIVE [--to DIR]   extract a one-file archive (pea_unpack1)\n"
    "  pea list ARCHIVE             print the listing (pea_list)\n"
    "  pea split ARCHIVE SIZE [--to DIR] [--delete]   cut into volumes of SIZE bytes\n"
    "  pea join VOLUME [--to DIR] [--delete]          join the volumes again\n"
    "pack options: --compression copy|fast|normal|better (normal)\n"
    "  --volume-check CHECK (crc32)  --object-check CHECK (crc32)\n"
    "  --stream-check CHECK|hmac128|eax128|eax256 (sha256; eax256 with a password or key file)\n"
    "  CHECK: none adler32 crc32 crc64 md5 ripemd160 sha1 sha256 sha512 whirlpool\n"
    "  --time unix|dos (unix)  --demand-encryption\n"
    "common: --key-file F  --password P, --password-file F (its first line) or --password-fd N\n"
    "  (the first line read from descriptor N), or --ask-password before the command\n";

constexpr OptionSpec kOptions[] = {
    {"--key-file", Kind::Text},
    {"--to", Kind::Text},
    {"--filter", Kind::Text},
    {"--compression", Kind::Choice, nullptr, kCompressions},
    {"--volume-check", Kind::Choice, nullptr, kChecks},
    {"--object-check", Kind::Choice, nullptr, kChecks},
    {"--stream-check", Kind::Choice, nullptr, kChecks},
    {"--time", Kind::Choice, nullptr, kTimes},
    {"--demand-encryption", Kind::Flag},
    {"--list-file", Kind::Flag},
    {"--delete", Kind::Flag},
};

int Pack(const CommonOptions& common, std::string_view name, Parsed& a) {
  const char* password = a.password.get();
  const char* key_file = a.Text("key-file");
  // Encryption is what a password is given for, unless another stream check is chosen.
  bool secret = password || key_file || (common.flags & TESSAREX_FLAG_ASK_PASSWORD);
  uint32_t options[8] = {a.Value("demand-encryption"),
                         common.flags,
                         a.Value("compression", TESSAREX_PEA_NORMAL),
                         a.Value("volume-check", TESSAREX_CHECK_CRC32),
                         a.Value("stream-check", secret ? TESSAREX_STREAM_AES256_EAX : TESSAREX_CHECK_SHA256),
                         a.Value("object-check", TESSAREX_CHECK_CRC32),
                         a.Value("time", TESSAREX_TIME_UNIX),
                         a.Value("list-file")};
  const char* archive = a.positional[0];
  std::string source = name == "pack" && !options[7] ? PackSource(a.positional[1]) : a.positional[1];
  uint32_t code = name == "pack" ? pea_pack2(nullptr, archive, source.c_str(), password, key_file, options)
                                 : pea_pack1(nullptr, archive, source.c_str(), password, key_file, options);
  return Outcome(archive, code);
}

int Unpack(const CommonOptions& common, std::string_view name, Parsed& a) {
  if (!MakeOutputFolder(a.Text("to"))) return 1;
  uint32_t options[2] = {a.Value("demand-encryption"), common.flags};
  const char* archive = a.positional[0];
  uint32_t code = name == "unpack" ? pea_unpack2(nullptr, archive, a.Text("to"), a.Text("filter"),
                                                 a.password.get(), a.Text("key-file"), options)
                                   : pea_unpack1(nullptr, archive, a.Text("to"), a.password.get(),
                                                 a.Text("key-file"), options);
  return Outcome(archive, code);
}

int List(const CommonOptions& common, std::string_view, Parsed& a) {
  uint32_t options[1] = {common.flags};
  return PrintListing(a.positional[0], [&](char* buffer, uint32_t size) {
    return pea_list(nullptr, a.positional[0], a.password.get(), a.Text("key-file"), buffer, size, options);
  });
}

int Split(const CommonOptions& common, std::string_view, Parsed& a) {
  uint32_t size;
  if (!ParseNumber(a.positional[1], size)) return UsageError(kUsage, "SIZE must be a number of bytes");
  uint32_t options[3] = {common.flags, a.Value("delete"), size};
  return Outcome(a.positional[0], pea_split(nullptr, a.positional[0], a.Text("to"), options));
}

int Join(const CommonOptions& common, std::string_view, Parsed& a) {
  uint32_t options[2] = {common.flags, a.Value("delete")};
  return Outcome(a.positional[0], pea_join(nullptr, a.positional[0], a.Text("to"), options));
}

constexpr Subcommand kCommands[] = {
    {"pack", 2, "pack needs ARCHIVE and SOURCE", Pack},
    {"pack1", 2, "pack1 needs ARCHIVE and FILE", Pack},
    {"unpack", 1, "unpack needs ARCHIVE", Unpack},
    {"unpack1", 1, "unpack1 needs ARCHIVE", Unpack},
    {"list", 1, "list needs ARCHIVE", List},
    {"split", 2, "split needs ARCHIVE and SIZE", Split},
    {"join", 1, "join needs VOLUME", Join},
};

}  // namespace

int PeaCommand(const CommonOptions& common, int argc, char** argv) {
  return RunFamily({"pea", kUsage, kOptions, kCommands}, common, argc, argv);
}

}  // namespace tx::cli
