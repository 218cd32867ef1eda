// tessarex pea pack|pack1|unpack|unpack1|list|split|join
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

namespace {

constexpr Named kChecks[] = {{"none", 0},    {"adler32", 1},   {"crc32", 2},   {"crc64", 3},
                             {"md5", 16},    {"ripemd160", 17}, {"sha1", 18},  {"sha256", 19},
                             {"sha512", 20}, {"whirlpool", 21}, {"hmac128", 48}, {"eax128", 49},
                             {"eax256", 65}};
constexpr Named kCompressions[] = {{"copy", 0}, {"store", 0}, {"fast", 1}, {"normal", 2}, {"better", 3}};
constexpr Named kTimes[] = {{"dos", 16}, {"unix", 48}};

struct PeaArgs {
  std::vector<const char*> positional;
  PasswordSource password;
  const char* key_file = nullptr;
  const char* directory = nullptr;
  const char* filter = nullptr;
  uint32_t compression = 2, volume = 2, stream = 19, object = 2, time = 48;
  bool stream_given = false, demand_encryption = false, list_file = false, remove = false;
};

const char* kUsage =
    "usage: tessarex [OPTIONS] pea COMMAND ...\n"
    "  pea pack ARCHIVE SOURCE      pack a file, a folder or a wildcard pattern (pea_pack2)\n"
    "  pea pack --list-file ARCHIVE LIST   pack the names of a list file (pea_pack2)\n"
    "  pea pack1 ARCHIVE FILE       pack exactly one file (pea_pack1)\n"
    "  pea unpack ARCHIVE [--to DIR] [--filter PATTERN]   extract (pea_unpack2)\n"
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

int Usage(const char* problem) { return UsageError(kUsage, problem); }

// Parses the options after the subcommand; false on an unknown or incomplete option.
bool Parse(int argc, char** argv, PeaArgs& a, std::string& problem) {
  OptionReader r(argc, argv);
  while (r.Next()) {
    std::string_view arg = r.arg();
    bool ok = true;
    if (a.password.Take(r, ok)) {  // --password, --password-file, --password-fd
    } else if (arg == "--key-file") ok = r.Value(a.key_file);
    else if (arg == "--to") ok = r.Value(a.directory);
    else if (arg == "--filter") ok = r.Value(a.filter);
    else if (arg == "--compression") ok = r.Choice(kCompressions, a.compression);
    else if (arg == "--volume-check") ok = r.Choice(kChecks, a.volume);
    else if (arg == "--object-check") ok = r.Choice(kChecks, a.object);
    else if (arg == "--stream-check") ok = r.Choice(kChecks, a.stream), a.stream_given = true;
    else if (arg == "--time") ok = r.Choice(kTimes, a.time);
    else if (arg == "--demand-encryption") a.demand_encryption = true;
    else if (arg == "--list-file") a.list_file = true;
    else if (arg == "--delete") a.remove = true;
    else if (r.IsOption()) ok = r.Unknown();
    else a.positional.push_back(r.current());
    if (!ok) return problem = r.problem(), false;
  }
  return true;
}

int List(const CommonOptions& common, const PeaArgs& a) {
  uint32_t options[1] = {common.flags};
  return PrintListing(a.positional[0], [&](char* buffer, uint32_t size) {
    return pea_list(nullptr, a.positional[0], a.password.get(), a.key_file, buffer, size, options);
  });
}

}  // namespace

int PeaCommand(const CommonOptions& common, int argc, char** argv) {
  if (argc < 1) return Usage(nullptr);
  std::string_view command = argv[0];
  PeaArgs a;
  std::string problem;
  if (!Parse(argc - 1, argv + 1, a, problem) || !a.password.Load(problem)) return Usage(problem.c_str());
  auto need = [&](size_t n) { return a.positional.size() == n; };
  const uint32_t flags = common.flags;
  const char* password = a.password.get();
  if (command == "pack" || command == "pack1") {
    if (!need(2)) return Usage("pack needs ARCHIVE and SOURCE");
    if (!a.stream_given && (password || a.key_file || (flags & TESSAREX_FLAG_ASK_PASSWORD))) a.stream = 65;
    uint32_t options[8] = {a.demand_encryption, flags, a.compression, a.volume, a.stream, a.object, a.time,
                           a.list_file};
    uint32_t code = command == "pack"
                        ? pea_pack2(nullptr, a.positional[0], a.positional[1], password, a.key_file, options)
                        : pea_pack1(nullptr, a.positional[0], a.positional[1], password, a.key_file, options);
    return Outcome(a.positional[0], code);
  }
  if (command == "unpack" || command == "unpack1") {
    if (!need(1)) return Usage("unpack needs ARCHIVE");
    uint32_t options[2] = {a.demand_encryption, flags};
    uint32_t code =
        command == "unpack"
            ? pea_unpack2(nullptr, a.positional[0], a.directory, a.filter, password, a.key_file, options)
            : pea_unpack1(nullptr, a.positional[0], a.directory, password, a.key_file, options);
    return Outcome(a.positional[0], code);
  }
  if (command == "list") {
    if (!need(1)) return Usage("list needs ARCHIVE");
    return List(common, a);
  }
  if (command == "split") {
    if (!need(2)) return Usage("split needs ARCHIVE and SIZE");
    uint32_t size;
    if (!ParseNumber(a.positional[1], size)) return Usage("SIZE must be a number of bytes");
    uint32_t options[3] = {flags, a.remove, size};
    return Outcome(a.positional[0], pea_split(nullptr, a.positional[0], a.directory, options));
  }
  if (command == "join") {
    if (!need(1)) return Usage("join needs VOLUME");
    uint32_t options[2] = {flags, a.remove};
    return Outcome(a.positional[0], pea_join(nullptr, a.positional[0], a.directory, options));
  }
  return Usage(("unknown pea command " + std::string(command)).c_str());
}

}  // namespace tx::cli
