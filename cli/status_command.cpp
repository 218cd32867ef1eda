// tessarex status CODE
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "cli/commands.h"

namespace tx::cli {

int StatusCommand(int argc, char** argv) {
  if (argc != 1) {
    std::fputs("usage: tessarex status CODE\n", stderr);
    return 2;
  }
  // Codes are always written in hexadecimal, so the digits are read as such.
  char* end = nullptr;
  errno = 0;
  unsigned long long value = std::strtoull(argv[0], &end, 16);
  if (errno != 0 || end == argv[0] || *end != 0 || value > 0xFFFFFFFFull || argv[0][0] == '-') {
    std::fprintf(stderr, "tessarex: not a status code: %s\n", argv[0]);
    return 2;
  }
  std::printf("%s\n", StatusText(static_cast<uint32_t>(value)).c_str());
  return 0;
}

}  // namespace tx::cli
