// tessarex zip pack|pack1|unpack|unpack1|list
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "cli/arguments.h"
#include "cli/commands.h"
#include "cli/password_source.h"
#include "tessarex.h"

namespace tx::cli {

int ZipCommand(const CommonOptions& common, int argc, char** argv);

namespace {

constexpr Named kMethods[] = {{"store", 0}, {"deflate", 8}, {"bzip2", 12}};
constexpr Named kEncryptions[] = {{"none", 0}, {"ae1", 1},   {"ae2", 2},
                                  {"auto", 3}, {"3des", 11}, {"aes", 12}};
constexpr Named kKeyLengths[] = {{"128", 16}, {"192", 24}, {"256", 32}};
constexpr Named kSignings[] = {{"none", 0}, {"directory", 1}, {"members", 2}, {"both", 3}};
constexpr Named kDigests[] = {{"md5", 1}, {"sha1", 2}};

struct ZipArgs {
  std::vector<const char*> positional;
  PasswordSource password;
  const char* directory = nullptr;
  const char* filter = nullptr;
  uint32_t method = 8, level = 6, directory_flags = 0, encryption = 0, key_length = 32, iv_length = 16,
           validation_length = 16, strong_flags = 1, signing = 0, digest = 2;
  bool encryption_given = false, demand_encryption = false, ntfs_times = false, utf8_names = false,
       list_file = false;
};

const char* kUsage =
    "usage: tessarex [OPTIONS] zip COMMAND ...\n"
    "  zip pack ARCHIVE SOURCE      pack a file, a folder or a wildcard pattern (zip_pack2)\n"
    "  zip pack --list-file ARCHIVE LIST   pack the names of a list file (zip_pack2)\n"
    "  zip pack1 ARCHIVE FILE       pack exactly one file (zip_pack1)\n"
    "  zip unpack ARCHIVE [--to DIR] [--filter PATTERN]   extract (zip_unpack2)\n"
    "  zip unpack1 ARCHIVE [--to DIR]   extract a one-member archive (zip_unpack1)\n"
    "  zip list ARCHIVE             print the listing (zip_list)\n"
    "pack options: --method store|deflate|bzip2 (deflate)  --level 1-9 (6)\n"
    "  --encryption none|ae1|ae2|auto|3des|aes (auto with a password, else none)\n"
    "  --key-length 128|192|256 (256)  --iv-length N (16)  --validation-length N (16)\n"
    "  --strong-flags N (1: password)  --compress-directory  --encrypt-directory\n"
    "  --sign none|directory|members|both (none)  --sign-digest md5|sha1 (sha1)\n"
    "  --ntfs-times  --utf8-names  --demand-encryption\n"
    "  (3des, aes, --encrypt-directory and --sign are not available yet)\n"
    "common: --password P, --password-file F (its first line) or --password-fd N\n"
    "  (the first line read from descriptor N), or --ask-password before the command\n";

int Usage(const char* problem) { return UsageError(kUsage, problem); }

// Parses the options after the subcommand; false on an unknown or incomplete option.
bool Parse(int argc, char** argv, ZipArgs& a, std::string& problem) {
  OptionReader r(argc, argv);
  while (r.Next()) {
    std::string_view arg = r.arg();
    bool ok = true;
    if (a.password.Take(r, ok)) {  // --password, --password-file, --password-fd
    } else if (arg == "--to") ok = r.Value(a.directory);
    else if (arg == "--filter") ok = r.Value(a.filter);
    else if (arg == "--method") ok = r.Choice(kMethods, a.method);
    else if (arg == "--level") ok = r.Number(a.level);
    else if (arg == "--encryption") ok = r.Choice(kEncryptions, a.encryption), a.encryption_given = true;
    else if (arg == "--key-length") ok = r.Choice(kKeyLengths, a.key_length);
    else if (arg == "--iv-length") ok = r.Number(a.iv_length);
    else if (arg == "--validation-length") ok = r.Number(a.validation_length);
    else if (arg == "--strong-flags") ok = r.Number(a.strong_flags);
    else if (arg == "--sign") ok = r.Choice(kSignings, a.signing);
    else if (arg == "--sign-digest") ok = r.Choice(kDigests, a.digest);
    else if (arg == "--compress-directory") a.directory_flags |= 1;
    else if (arg == "--encrypt-directory") a.directory_flags |= 2;
    else if (arg == "--ntfs-times") a.ntfs_times = true;
    else if (arg == "--utf8-names") a.utf8_names = true;
    else if (arg == "--demand-encryption") a.demand_encryption = true;
    else if (arg == "--list-file") a.list_file = true;
    else if (r.IsOption()) ok = r.Unknown();
    else a.positional.push_back(r.current());
    if (!ok) return problem = r.problem(), false;
  }
  return true;
}

int List(const CommonOptions& common, const ZipArgs& a) {
  uint32_t options[1] = {common.flags};
  return PrintListing(a.positional[0], [&](char* buffer, uint32_t size) {
    return zip_list(nullptr, a.positional[0], a.password.get(), buffer, size, options);
  });
}

}  // namespace

int ZipCommand(const CommonOptions& common, int argc, char** argv) {
  if (argc < 1) return Usage(nullptr);
  std::string_view command = argv[0];
  ZipArgs a;
  std::string problem;
  if (!Parse(argc - 1, argv + 1, a, problem) || !a.password.Load(problem)) return Usage(problem.c_str());
  auto need = [&](size_t n) { return a.positional.size() == n; };
  const uint32_t flags = common.flags;
  const char* password = a.password.get();
  if (command == "pack" || command == "pack1") {
    if (!need(2)) return Usage("pack needs ARCHIVE and SOURCE");
    if (!a.encryption_given && (password || (flags & TESSAREX_FLAG_ASK_PASSWORD))) a.encryption = 3;
    uint32_t options[15] = {a.demand_encryption, flags,          a.method,     a.level,
                            a.directory_flags,   a.encryption,   a.key_length, a.iv_length,
                            a.validation_length, a.strong_flags, a.signing,    a.digest,
                            a.ntfs_times,        a.utf8_names,   a.list_file};
    uint32_t code = command == "pack"
                        ? zip_pack2(nullptr, a.positional[0], a.positional[1], password, options)
                        : zip_pack1(nullptr, a.positional[0], a.positional[1], password, options);
    return Outcome(a.positional[0], code);
  }
  if (command == "unpack" || command == "unpack1") {
    if (!need(1)) return Usage("unpack needs ARCHIVE");
    uint32_t options[2] = {a.demand_encryption, flags};
    uint32_t code = command == "unpack"
                        ? zip_unpack2(nullptr, a.positional[0], a.directory, a.filter, password, options)
                        : zip_unpack1(nullptr, a.positional[0], a.directory, password, options);
    return Outcome(a.positional[0], code);
  }
  if (command == "list") {
    if (!need(1)) return Usage("list needs ARCHIVE");
    return List(common, a);
  }
  return Usage(("unknown zip command " + std::string(command)).c_str());
}

}  // namespace tx::cli
