#include "crypto/crc.h"

#include <immintrin.h>
#include <zlib.h>
#ifdef TX_HAVE_ISAL
#include <isa-l/crc.h>
#include <isa-l/crc64.h>
#endif

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

#ifdef TX_HAVE_ISAL

}  // namespace

// ISA-L presets and complements inside, as zlib does; its "norm" CRC-64 is our
// most-significant-bit-first register.
uint32_t Crc32Update(uint32_t reg, const void* data, size_t size) {
  return ~crc32_gzip_refl(~reg, static_cast<const unsigned char*>(data), size);
}

uint64_t Crc64Update(uint64_t reg, const void* data, size_t size) {
  return ~crc64_ecma_norm(~reg, static_cast<const unsigned char*>(data), size);
}

#else

constexpr Crc64Tables kCrc64 = MakeCrc64Tables();

uint32_t Crc32Portable(uint32_t reg, const unsigned char* data, size_t size) {
  // zlib presets and complements inside; undo both to work on the raw register.
  return ~static_cast<uint32_t>(crc32_z(~reg & 0xFFFFFFFFul, data, size));
}

// Carry-less multiplication folding (Gopal et al., "Fast CRC Computation for Generic
// Polynomials Using PCLMULQDQ"), bit-reflected. The constants are x^n mod P for the fold
// distances, reflected and shifted left by one, and the Barrett pair for the last step.
constexpr uint64_t kFold512Low = 0x154442bd4, kFold512High = 0x1c6e41596;  // n = 544, 480
constexpr uint64_t kFold128Low = 0x1751997d0, kFold128High = 0x0ccaa009e;  // n = 160, 96
constexpr uint64_t kFold64 = 0x163cd6124;                                  // n = 64
constexpr uint64_t kPolyReflected = 0x1DB710641, kMuReflected = 0x1F7011641;

__attribute__((target("pclmul,sse4.1"))) inline __m128i Fold(__m128i x, __m128i k, __m128i next) {
  __m128i low = _mm_clmulepi64_si128(x, k, 0x00);
  __m128i high = _mm_clmulepi64_si128(x, k, 0x11);
  return _mm_xor_si128(_mm_xor_si128(low, high), next);
}

// Whole 16-byte blocks, at least four of them; returns the raw register.
__attribute__((target("pclmul,sse4.1"))) uint32_t Crc32Folded(uint32_t reg, const unsigned char* p,
                                                              size_t size) {
  auto load = [](const unsigned char* q) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(q)); };
  __m128i x0 = _mm_xor_si128(load(p), _mm_cvtsi32_si128(static_cast<int>(reg)));
  __m128i x1 = load(p + 16), x2 = load(p + 32), x3 = load(p + 48);
  p += 64;
  size -= 64;
  const __m128i k512 = _mm_set_epi64x(kFold512High, kFold512Low);
  for (; size >= 64; p += 64, size -= 64) {
    x0 = Fold(x0, k512, load(p));
    x1 = Fold(x1, k512, load(p + 16));
    x2 = Fold(x2, k512, load(p + 32));
    x3 = Fold(x3, k512, load(p + 48));
  }
  const __m128i k128 = _mm_set_epi64x(kFold128High, kFold128Low);
  __m128i x = Fold(Fold(Fold(x0, k128, x1), k128, x2), k128, x3);
  for (; size >= 16; p += 16, size -= 16) x = Fold(x, k128, load(p));

  // 128 -> 96 -> 64 bits, then Barrett reduction to 32.
  const __m128i low32 = _mm_setr_epi32(-1, 0, -1, 0);
  x = _mm_xor_si128(_mm_clmulepi64_si128(x, k128, 0x10), _mm_srli_si128(x, 8));
  __m128i t = _mm_srli_si128(x, 4);
  x = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x, low32), _mm_cvtsi64_si128(kFold64), 0x00), t);
  const __m128i barrett = _mm_set_epi64x(kMuReflected, kPolyReflected);
  t = _mm_and_si128(_mm_clmulepi64_si128(_mm_and_si128(x, low32), barrett, 0x10), low32);
  t = _mm_clmulepi64_si128(t, barrett, 0x00);
  return static_cast<uint32_t>(_mm_extract_epi32(_mm_xor_si128(x, t), 1));
}

const bool kHaveClmul = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");

}  // namespace

uint32_t Crc32Update(uint32_t reg, const void* data, size_t size) {
  const auto* p = static_cast<const unsigned char*>(data);
  if (kHaveClmul && size >= 64) {
    size_t folded = size & ~size_t{15};
    reg = Crc32Folded(reg, p, folded);
    p += folded;
    size -= folded;
  }
  return Crc32Portable(reg, p, size);
}

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
#endif

uint32_t Crc32Byte(uint32_t reg, uint8_t byte) { return (reg >> 8) ^ kCrc32[(reg ^ byte) & 0xFF]; }

}  // namespace tx::crypto
