// The generator's two ciphers against published vectors, and the pool stirring.
#include <gtest/gtest.h>

#include <cstring>

#include "crypto/rc4.h"
#include "crypto/snow2.h"
#include "frame/random.h"
#include "test_support.h"

namespace {

struct Snow2Row {
  size_t key_size;
  uint8_t key_byte;  // 0x80 stands for 80 00 .. 00
  uint32_t iv[4];    // IV0 .. IV3
  uint32_t words[5];
};

const Snow2Row kSnow2Rows[] = {
    {16, 0x80, {0, 0, 0, 0}, {0x8D590AE9, 0xA74A7D05, 0x6DC9CA74, 0xB72D1A45, 0x99B0A083}},
    {16, 0xAA, {0, 0, 0, 0}, {0xE00982F5, 0x25F02054, 0x214992D8, 0x706F2B20, 0xDA585E5B}},
    {16, 0x80, {1, 2, 3, 4}, {0xD6403358, 0xE0354A69, 0x57F43FCE, 0x44B4B13F, 0xF78E24C2}},
    {16, 0xAA, {1, 2, 3, 4}, {0xC355385D, 0xB31D6CBD, 0xF774AF53, 0x66C2E877, 0x4DEADAC7}},
    {32, 0x80, {0, 0, 0, 0}, {0x0B5BCCE2, 0x0323E28E, 0x0FC20380, 0x9C66AB73, 0xCA35A680}},
    {32, 0xAA, {0, 0, 0, 0}, {0xD9CC22FD, 0x861492D0, 0xAE6F43FB, 0x0F072012, 0x078C5AEE}},
    {32, 0x80, {1, 2, 3, 4}, {0x7861080D, 0x5755E90B, 0x736F1091, 0x6ED519B1, 0x2C1A3A42}},
    {32, 0xAA, {1, 2, 3, 4}, {0x29261FCE, 0x5ED03820, 0x1D6AFAF8, 0xB87E74FE, 0xD49ECB10}},
};

TEST(Snow2, PublishedKeystreams) {
  // One cipher object for every row: loading a key must reset all earlier state.
  tx::crypto::Snow2 snow;
  for (const auto& row : kSnow2Rows) {
    uint8_t key[32];
    std::memset(key, row.key_byte == 0x80 ? 0 : row.key_byte, sizeof key);
    key[0] = row.key_byte;
    uint8_t short_key[16];
    std::memcpy(short_key, key, sizeof short_key);
    if (row.key_size == 16)
      snow.LoadKey(short_key, row.iv);
    else
      snow.LoadKey(key, row.iv);
    for (int i = 0; i < 5; ++i)
      EXPECT_EQ(snow.NextWord(), row.words[i])
          << "key " << row.key_size * 8 << " bits of " << std::hex << unsigned{row.key_byte} << ", IV0 "
          << row.iv[0] << ", word " << i;
  }
}

TEST(Rc4, Rfc6229Key0102030405) {
  const uint8_t key[] = {1, 2, 3, 4, 5};
  uint8_t stream[272] = {};
  tx::crypto::Rc4(key, sizeof key).XorKeystream(stream, sizeof stream);
  EXPECT_EQ(tx::test::Hex(stream, 16), "b2396305f03dc027ccc3524a0a1118a8");
  EXPECT_EQ(tx::test::Hex(stream + 256, 16), "1cfcf62b03eddb641d77dfcf7f8d8c93");

  tx::crypto::Rc4 skipping(key, sizeof key);
  skipping.Discard(256);
  uint8_t tail[16] = {};
  skipping.XorKeystream(tail, sizeof tail);
  EXPECT_EQ(tx::test::Hex(tail, 16), "1cfcf62b03eddb641d77dfcf7f8d8c93");
}

TEST(Rc4, StirringKeysWithTheWholePoolAndDropsTheFirst256Bytes) {
  // Expected bytes from an independent RC4 (pycryptodome ARC4 with drop=256).
  uint8_t pool[tx::frame::kPoolSize];
  for (size_t i = 0; i < sizeof pool; ++i) pool[i] = static_cast<uint8_t>(i);
  tx::frame::StirPool(pool);
  EXPECT_EQ(tx::test::Hex(pool, sizeof pool),
            "1cc722ed80e7104290c28c23f066395cfab574750aa9248b3d078b228d4b6e3c"
            "c9e825040246c957b3a2d482c5915e17");
}

}  // namespace
