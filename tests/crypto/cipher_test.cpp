#include <gtest/gtest.h>

#include <string>

#include "crypto/aes.h"
#include "crypto/crypto_test_util.h"
#include "crypto/des3.h"

namespace tx::crypto {
namespace {

using namespace testutil;

TEST(AesTest, Fips197KeySizesAndLengthForms) {
  const std::string plain = "00112233445566778899aabbccddeeff";
  const char* expected[] = {"69c4e0d86a7b0430d8cdb78070b4c55a", "dda97ca4864cdfe06eaf70a0ec0d7191",
                            "8ea2b7ca516745bfeafc49904b496089"};
  for (unsigned bytes : {16u, 24u, 32u}) {
    for (unsigned length : {bytes, bytes * 8}) {
      AesEncryptContext enc;
      AesDecryptContext dec;
      ASSERT_EQ(AesSetEncryptKey(Pattern(bytes, 0).data(), length, enc), kAesKeyOk);
      ASSERT_EQ(AesSetDecryptKey(Pattern(bytes, 0).data(), length, dec), kAesKeyOk);
      Bytes block = FromHex(plain), run = FromHex(plain + plain + plain);
      ASSERT_TRUE(AesEncryptBlock(block.data(), block.data(), enc));  // in place
      ASSERT_TRUE(AesEcbEncrypt(run.data(), run.data(), 3, enc));
      EXPECT_EQ(ToHex(block), expected[bytes / 8 - 2]) << length;
      EXPECT_EQ(ToHex(run), ToHex(block) + ToHex(block) + ToHex(block));
      ASSERT_TRUE(AesDecryptBlock(block.data(), block.data(), dec));
      EXPECT_EQ(ToHex(block), plain);
    }
  }
  AesEncryptContext enc;
  AesDecryptContext dec;
  uint8_t block[16] = {};
  ASSERT_EQ(AesSetEncryptKey(Pattern(16, 0).data(), 16, enc), kAesKeyOk);
  EXPECT_EQ(AesSetEncryptKey(Pattern(20, 0).data(), 20, enc), kAesKeyBadLength);
  EXPECT_EQ(AesSetDecryptKey(Pattern(32, 0).data(), 64, dec), kAesKeyBadLength);
  EXPECT_FALSE(AesEncryptBlock(block, block, enc));  // a refused key leaves no key behind
  EXPECT_FALSE(AesDecryptBlock(block, block, dec));
}

TEST(AesTest, CbcVectorChainingAndTails) {  // NIST SP 800-38A F.2.1, F.2.2
  const Bytes key = FromHex("2b7e151628aed2a6abf7158809cf4f3c");
  const std::string plain =
      "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
      "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710";
  const std::string cipher =
      "7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2"
      "73bed6b8e3c1743b7116e69e222295163ff1caa1681fac09120eca307586e1a7";
  AesEncryptContext enc;
  AesDecryptContext dec;
  ASSERT_EQ(AesSetEncryptKey(key.data(), 16, enc), kAesKeyOk);
  ASSERT_EQ(AesSetDecryptKey(key.data(), 128, dec), kAesKeyOk);

  Bytes data = FromHex(plain), chain = Pattern(16, 0);  // two calls continue one stream
  ASSERT_TRUE(AesCbcEncrypt(data.data(), 32, chain.data(), enc));
  ASSERT_TRUE(AesCbcEncrypt(data.data() + 32, 32, chain.data(), enc));
  EXPECT_EQ(ToHex(data), cipher);
  EXPECT_EQ(ToHex(chain), cipher.substr(96));
  chain = Pattern(16, 0);
  ASSERT_TRUE(AesCbcDecrypt(data.data(), 48, chain.data(), dec));
  ASSERT_TRUE(AesCbcDecrypt(data.data() + 48, 16, chain.data(), dec));
  EXPECT_EQ(ToHex(data), plain);
  EXPECT_EQ(ToHex(chain), cipher.substr(96));

  data.resize(40);  // the whole blocks change, the 8-byte tail does not
  chain = Pattern(16, 0);
  ASSERT_TRUE(AesCbcEncrypt(data.data(), data.size(), chain.data(), enc));
  ASSERT_TRUE(AesCbcEncrypt(data.data() + 32, 8, chain.data(), enc));
  EXPECT_EQ(ToHex(data), cipher.substr(0, 64) + plain.substr(64, 16));
  chain = Pattern(16, 0);
  ASSERT_TRUE(AesCbcDecrypt(data.data(), data.size(), chain.data(), dec));
  EXPECT_EQ(ToHex(data), plain.substr(0, 80));
}

TEST(Des3Test, PublishedVectorAndCbcChaining) {  // NIST SP 800-67 three-key example
  const Bytes key = FromHex("0123456789abcdef23456789abcdef01456789abcdef0123");
  Bytes data = FromHex("54686520717566636b2062726f776e20666f78206a756d70");
  ASSERT_TRUE(Des3SetKey(key.data(), Des3Direction::Encrypt));
  for (size_t i = 0; i < data.size(); i += 8) {  // a zero chaining value leaves the plain cipher
    uint8_t zero[8] = {};
    ASSERT_TRUE(Des3CbcEncrypt(&data[i], 8, zero));
  }
  EXPECT_EQ(ToHex(data), "a826fd8ce53b855fcce21c8112256fe668d5c05dd9b6b900");

  const Bytes original = Pattern(29);  // one call over three blocks and a tail equals three calls
  Bytes whole = original, pieces = original, chain = Pattern(8, 0), chain_pieces = chain;
  ASSERT_TRUE(Des3CbcEncrypt(whole.data(), whole.size(), chain.data()));
  for (size_t i = 0; i < 24; i += 8) ASSERT_TRUE(Des3CbcEncrypt(&pieces[i], 8, chain_pieces.data()));
  EXPECT_EQ(whole, pieces);
  EXPECT_EQ(chain, Bytes(whole.begin() + 16, whole.begin() + 24));
  EXPECT_EQ(Bytes(whole.begin() + 24, whole.end()), Bytes(original.begin() + 24, original.end()));
  EXPECT_FALSE(Des3CbcDecrypt(whole.data(), 24, chain.data()));  // keyed for the other direction

  ASSERT_TRUE(Des3SetKey(key.data(), Des3Direction::Decrypt));
  chain = Pattern(8, 0);
  ASSERT_TRUE(Des3CbcDecrypt(whole.data(), 16, chain.data()));
  ASSERT_TRUE(Des3CbcDecrypt(whole.data() + 16, 13, chain.data()));
  EXPECT_EQ(whole, original);
  Des3Wipe();
  EXPECT_FALSE(Des3CbcDecrypt(whole.data(), 24, chain.data()));
}

}  // namespace
}  // namespace tx::crypto
