// tessarex digest ALGO FILE...
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "cli/commands.h"
#include "tessarex.h"

namespace tx::cli {

namespace {

using DigestFunction = TessarexStatus (*)(void*, const char*, uint32_t, void*);

struct Algorithm {
  const char* name;
  DigestFunction function;
  size_t size;
  bool integer;  // a CRC value: shown most significant byte first, as checksum tools do
};

constexpr Algorithm kAlgorithms[] = {
    {"crc32", file_crc32, 4, true},      {"crc64", file_crc64, 8, true},   {"md5", file_md5, 16, false},
    {"ripemd160", file_ripemd160, 20, false}, {"sha1", file_sha1, 20, false}, {"sha256", file_sha256, 32, false},
    {"sha512", file_sha512, 64, false},  {"whirlpool", file_whirlpool, 64, false},
};

}  // namespace

int DigestCommand(const CommonOptions& options, int argc, char** argv) {
  if (argc < 2) {
    std::fputs("usage: tessarex digest ALGO FILE...\n", stderr);
    return 2;
  }
  const Algorithm* algorithm = nullptr;
  for (const Algorithm& a : kAlgorithms)
    if (std::strcmp(a.name, argv[0]) == 0) algorithm = &a;
  if (!algorithm) {
    std::fprintf(stderr, "tessarex: unknown digest algorithm %s\n", argv[0]);
    return 2;
  }
  int status = 0;
  for (int i = 1; i < argc; ++i) {
    unsigned char result[64];
    uint32_t code = algorithm->function(nullptr, argv[i], options.flags, result);
    if (code != 0) {
      ReportFailure(argv[i], code);
      status = 1;
      continue;
    }
    char hex[129];
    for (size_t k = 0; k < algorithm->size; ++k) {
      size_t from = algorithm->integer ? algorithm->size - 1 - k : k;  // the stored value is little-endian
      std::snprintf(hex + 2 * k, 3, "%02x", result[from]);
    }
    std::printf("%s  %s\n", hex, argv[i]);
  }
  return status;
}

}  // namespace tx::cli
