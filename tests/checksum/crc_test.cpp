// CRC-32 and CRC-64 on the raw register against bitwise references.
#include "crypto/crc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "test_support.h"

namespace {

uint32_t BitwiseCrc32(uint32_t reg, const std::string& data, size_t from, size_t size) {
  for (size_t i = from; i < from + size; ++i) {
    reg ^= static_cast<unsigned char>(data[i]);
    for (int k = 0; k < 8; ++k) reg = (reg >> 1) ^ ((reg & 1) ? 0xEDB88320u : 0);
  }
  return reg;
}

uint64_t BitwiseCrc64(uint64_t reg, const std::string& data, size_t size) {
  for (size_t i = 0; i < size; ++i) {
    reg ^= uint64_t{static_cast<unsigned char>(data[i])} << 56;
    for (int k = 0; k < 8; ++k) reg = (reg << 1) ^ ((reg >> 63) ? 0x42F0E1EBA9EA3693ull : 0);
  }
  return reg;
}

TEST(Crc, CheckValues) {
  const char digits[] = "123456789";
  EXPECT_EQ(~tx::crypto::Crc32Update(0xFFFFFFFFu, digits, 9), 0xCBF43926u);
  EXPECT_EQ(~tx::crypto::Crc64Update(~uint64_t{0}, digits, 9), 0x62EC59E3F1A4F00Aull);
  uint32_t halves[2] = {0xFFFFFFFFu, 0xFFFFFFFFu};
  tx::crypto::Crc64Update(halves, digits, 4);
  tx::crypto::Crc64Update(halves, digits + 4, 5);
  EXPECT_EQ(~halves[0], 0xF1A4F00Au);
  EXPECT_EQ(~halves[1], 0x62EC59E3u);
  uint32_t reg = 0xFFFFFFFFu;
  for (char c : std::string(digits)) reg = tx::crypto::Crc32Byte(reg, static_cast<uint8_t>(c));
  EXPECT_EQ(~reg, 0xCBF43926u);
}

TEST(Crc, EveryLengthAlignmentAndRegister) {
  std::string data = tx::test::RandomBytes(70000, 11);
  for (uint32_t start : {0u, 0xFFFFFFFFu, 0x12345678u}) {
    for (size_t offset = 0; offset < 4; ++offset) {
      for (size_t size = 0; size < 300; ++size)
        ASSERT_EQ(tx::crypto::Crc32Update(start, data.data() + offset, size),
                  BitwiseCrc32(start, data, offset, size))
            << size << " bytes at offset " << offset;
    }
    for (size_t size : {size_t{4096}, size_t{65536}, size_t{65537}, size_t{69999}})
      EXPECT_EQ(tx::crypto::Crc32Update(start, data.data() + 1, size), BitwiseCrc32(start, data, 1, size));
  }
  for (uint64_t start : {~uint64_t{0}, uint64_t{0}, uint64_t{0x0123456789ABCDEF}}) {
    for (size_t offset = 0; offset < 4; ++offset) {
      const std::string tail = data.substr(offset);
      for (size_t size = 0; size < 300; ++size)
        ASSERT_EQ(tx::crypto::Crc64Update(start, tail.data(), size), BitwiseCrc64(start, tail, size))
            << size << " bytes at offset " << offset;
    }
    EXPECT_EQ(tx::crypto::Crc64Update(start, data.data(), 65537), BitwiseCrc64(start, data, 65537));
  }
  // Pieces of any length continue one stream.
  uint32_t reg = tx::crypto::Crc32Update(0xFFFFFFFFu, data.data(), 1000);
  reg = tx::crypto::Crc32Update(reg, data.data() + 1000, 69000);
  EXPECT_EQ(reg, tx::crypto::Crc32Update(0xFFFFFFFFu, data.data(), 70000));
  const uint64_t whole = tx::crypto::Crc64Update(~uint64_t{0}, data.data(), 70000);
  for (size_t piece : {size_t{1}, size_t{3}, size_t{64}, size_t{4099}}) {
    uint64_t reg64 = ~uint64_t{0};
    for (size_t at = 0; at < 70000; at += piece)
      reg64 = tx::crypto::Crc64Update(reg64, data.data() + at, std::min(piece, 70000 - at));
    EXPECT_EQ(reg64, whole) << piece;
  }
}

}  // namespace
