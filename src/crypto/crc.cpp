#include "crypto/crc.h"

#include <zlib.h>

#include <array>
#include <cstring>

namespace tx::crypto {

namespace {

using Crc32Table = std::array<uint32_t, 256>;
using Crc64Tables = std::array<std::array<uint64_t, 256>, 8>;

constexpr Crc32Table MakeCrc32Table() {
  Crc32Table t{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t r = i;
    for (int k = 0; k < 8; ++k) r = (r >> 1) ^ (0xEDB88320u & (0u - (r & 1)));
    t[i] = r;
  }
  return t;
}

// Slicing by eight for the most-significant-bit-first register: table k advances a byte
// that still has k more bytes to pass.
constexpr Crc64Tables MakeCrc64Tables() {
  constexpr uint64_t kPoly = 0x42F0E1EBA9EA3693ull;
  Crc64Tables t{};
  for (uint64_t i = 0; i < 256; ++i) {
    uint64_t r = i << 56;
    for (int k = 0; k < 8; ++k) r = (r << 1) ^ (kPoly & (0 - (r >> 63)));
    t[0][i] = r;
  }
  for (size_t k = 1; k < 8; ++k)
    for (size_t i = 0; i < 256; ++i) t[k][i] = (t[k - 1][i] << 8) ^ t[0][t[k - 1][i] >> 56];
  return t;
}

constexpr Crc32Table kCrc32 = MakeCrc32Table();
constexpr Crc64Tables kCrc64 = MakeCrc64Tables();

}  // namespace

uint32_t Crc32Update(uint32_t reg, const void* data, size_t size) {
  // zlib presets and complements inside; undo both to work on the raw register. Its
  // braided loop runs several times faster than a table per byte.
  return ~static_cast<uint32_t>(crc32_z(~reg & 0xFFFFFFFFul, static_cast<const Bytef*>(data), size));
}

uint32_t Crc32Byte(uint32_t reg, uint8_t byte) { return (reg >> 8) ^ kCrc32[(reg ^ byte) & 0xFF]; }

uint64_t Crc64Update(uint64_t reg, const void* data, size_t size) {
  const auto* p = static_cast<const unsigned char*>(data);
  while (size >= 8) {
    uint64_t w;
    std::memcpy(&w, p, 8);
    reg ^= __builtin_bswap64(w);
    reg = kCrc64[7][reg >> 56] ^ kCrc64[6][(reg >> 48) & 0xFF] ^ kCrc64[5][(reg >> 40) & 0xFF] ^
          kCrc64[4][(reg >> 32) & 0xFF] ^ kCrc64[3][(reg >> 24) & 0xFF] ^ kCrc64[2][(reg >> 16) & 0xFF] ^
          kCrc64[1][(reg >> 8) & 0xFF] ^ kCrc64[0][reg & 0xFF];
    p += 8;
    size -= 8;
  }
  while (size-- > 0) reg = (reg << 8) ^ kCrc64[0][(reg >> 56) ^ *p++];
  return reg;
}


}  // namespace tx::crypto
