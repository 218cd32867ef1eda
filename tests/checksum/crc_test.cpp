// CRC-32 and CRC-64 on the raw register against bitwise references.
#include <gtest/gtest.h>

#include <string>

#include "crypto/crc.h"
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
        ASSERT_EQ(tx::crypto::Crc32Update(start, data.data() + offset, size), BitwiseCrc32(start, data, offset, size))
            << size << " bytes at offset " << offset;
    }
    for (size_t size : {size_t{4096}, size_t{65536}, size_t{65537}, size_t{69999}})
      EXPECT_EQ(tx::crypto::Crc32Update(start, data.data() + 1, size), BitwiseCrc32(start, data, 1, size));
  }
  for (size_t size : {size_t{0}, size_t{1}, size_t{7}, size_t{8}, size_t{9}, size_t{65537}})
    EXPECT_EQ(tx::crypto::Crc64Update(0x0123456789ABCDEFull, data.data(), size),
              BitwiseCrc64(0x0123456789ABCDEFull, data, size));
  // Pieces continue one stream.
  uint32_t reg = tx::crypto::Crc32Update(0xFFFFFFFFu, data.data(), 1000);
  reg = tx::crypto::Crc32Update(reg, data.data() + 1000, 69000);
  EXPECT_EQ(reg, tx::crypto::Crc32Update(0xFFFFFFFFu, data.data(), 70000));
}

}  // namespace
