// tessarex: the command-line host of the library.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "cli/commands.h"
#include "tessarex.h"

namespace tx::cli {

std::string StatusText(uint32_t code) {
  char text[1024];
  uint32_t result = tessarex_status_text(code, TESSAREX_LANGUAGE_LOCALE, text, sizeof text);
  return result == 0 || result == 0x00280000 ? text : "";
}

void ReportFailure(const char* what, uint32_t code) {
  std::fprintf(stderr, "tessarex: %s: %s\n", what, StatusText(code).c_str());
  // A failed system call also says on what and why, in the system's own words.
  char detail[4096];
  if ((code >> 24) == 0x01 && tessarex_failure_text(detail, sizeof detail) != 0x00010001 && detail[0] != 0)
    std::fprintf(stderr, "tessarex: %s\n", detail);
}

namespace {

constexpr const char* kHelp =
    "usage: tessarex [OPTIONS] COMMAND [ARGUMENTS]\n"
    "\n"
    "Commands:\n"
    "  digest ALGO FILE...   print the digest of each file as HEX  NAME\n"
    "                        ALGO: crc32 crc64 md5 ripemd160 sha1 sha256 sha512 whirlpool\n"
    "                        (file_crc32 ... file_whirlpool; CRC values shown big-endian)\n"
    "  status CODE           explain a status code (hexadecimal, 0x optional)\n"
    "  pea pack|pack1|unpack|unpack1|list|split|join ...\n"
    "                        PEA archives (tessarex pea for details)\n"
    "  zip pack|pack1|unpack|unpack1|list ...\n"
    "                        ZIP archives (tessarex zip for details)\n"
    "  7z pack|pack-solid|pack1|unpack|unpack-nonsolid|unpack1|list|split|join ...\n"
    "                        7z archives (tessarex 7z for details)\n"
    "  cert import|list|remove ...\n"
    "                        the certificate stores of ZIP recipients and signers\n"
    "                        (tessarex cert for details)\n"
    "\n"
    "Options (before the command):\n"
    "  --progress            show the progress window on the terminal (p pauses and\n"
    "                        resumes, c or Esc cancels)\n"
    "  --ask-overwrite       ask before an existing file is replaced\n"
    "                        (o overwrite, a overwrite all, s skip, c cancel)\n"
    "  --ask-password        ask for a password that is needed but not given\n"
    "                        (Tab shows or hides it, Enter takes it, Esc cancels)\n"
    "  --ask-on-error        after a damaged entry, ask whether to go on\n"
    "                        (Enter goes on, Esc stops)\n"
    "                        The questions appear on the terminal; without one they\n"
    "                        cannot be asked and the operation stops.\n"
    "  --code-page N         read ZIP names without the UTF-8 flag that are not UTF-8\n"
    "                        in DOS code page N (932 Japanese, 866 Cyrillic, 850\n"
    "                        Western European, ...); by default the one Windows uses\n"
    "                        for the language of LC_ALL, LC_CTYPE or LANG (437 for\n"
    "                        English and C)\n"
    "  -h, --help            show this help\n"
    "  --version             show the version\n"
    "\n"
    "Exit status: 0 success, 1 an operation failed (its status is printed on stderr),\n"
    "2 a usage error.\n";

}  // namespace

}  // namespace tx::cli

namespace {

// The --code-page value: a decimal number this system can decode.
bool SetCodePage(const char* value) {
  if (value == nullptr) {
    std::fputs("tessarex: --code-page needs a code page number (see tessarex --help)\n", stderr);
    return false;
  }
  char* end = nullptr;
  errno = 0;
  const unsigned long number = std::strtoul(value, &end, 10);
  if (*value < '0' || *value > '9' || *end != 0 || errno != 0 || number == 0 || number > 0xFFFF) {
    std::fprintf(stderr, "tessarex: --code-page %s: not a code page number\n", value);
    return false;
  }
  if (uint32_t code = tessarex_set_code_page(static_cast<uint32_t>(number))) {
    std::fprintf(stderr, "tessarex: --code-page %s: %s\n", value, tx::cli::StatusText(code).c_str());
    return false;
  }
  return true;
}

// An interrupted command leaves no temporary file behind, then ends as the signal says.
void EndOnSignal(int sig) {
  tessarex_remove_temporaries();
  ::signal(sig, SIG_DFL);
  ::raise(sig);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace tx::cli;
  // A signal the command was started to ignore (a background job's SIGINT) stays ignored.
  for (int sig : {SIGINT, SIGTERM, SIGHUP})
    if (::signal(sig, EndOnSignal) == SIG_IGN) ::signal(sig, SIG_IGN);
  CommonOptions options;
  int i = 1;
  for (; i < argc && argv[i][0] == '-'; ++i) {
    std::string_view arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      std::fputs(kHelp, stdout);
      return 0;
    }
    if (arg == "--version") {
      std::printf("tessarex %s\n", TESSAREX_VERSION_TEXT);
      return 0;
    }
    if (arg == "--progress") {
      options.flags |= TESSAREX_FLAG_PROGRESS;
    } else if (arg == "--ask-overwrite") {
      options.flags |= TESSAREX_FLAG_ASK_OVERWRITE;
    } else if (arg == "--ask-password") {
      options.flags |= TESSAREX_FLAG_ASK_PASSWORD;
    } else if (arg == "--ask-on-error") {
      options.flags |= TESSAREX_FLAG_ASK_ON_ERROR;
    } else if (arg == "--code-page") {
      if (!SetCodePage(i + 1 < argc ? argv[++i] : nullptr)) return 2;
    } else {
      std::fprintf(stderr, "tessarex: unknown option %s (see tessarex --help)\n", argv[i]);
      return 2;
    }
  }
  if (i >= argc) {
    std::fputs(kHelp, stderr);
    return 2;
  }
  std::string_view command = argv[i];
  if (command == "digest") return DigestCommand(options, argc - i - 1, argv + i + 1);
  if (command == "status") return StatusCommand(argc - i - 1, argv + i + 1);
  if (command == "pea") return PeaCommand(options, argc - i - 1, argv + i + 1);
  if (command == "zip") return ZipCommand(options, argc - i - 1, argv + i + 1);
  if (command == "7z") return SvzCommand(options, argc - i - 1, argv + i + 1);
  if (command == "cert") return CertCommand(options, argc - i - 1, argv + i + 1);
  if (command == "help") {
    std::fputs(kHelp, stdout);
    return 0;
  }
  std::fprintf(stderr, "tessarex: unknown command %s (see tessarex --help)\n", argv[i]);
  return 2;
}
