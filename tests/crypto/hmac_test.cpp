#include "crypto/hmac.h"

#include <gtest/gtest.h>

#include <string>

#include "crypto/crypto_test_util.h"
#include "crypto/hash.h"

namespace tx::crypto {
namespace {

using namespace testutil;

std::string Hmac(const Bytes& key, const std::string& message) {
  HmacSha1Context ctx;
  Bytes out(kHmacSha1Size);
  EXPECT_TRUE(HmacSha1Init(ctx, key.data(), key.size()));
  HmacSha1Update(ctx, message.data(), message.size() / 2);
  HmacSha1Update(ctx, message.data() + message.size() / 2, message.size() - message.size() / 2);
  HmacSha1Final(ctx, out.data());
  return ToHex(out);
}

TEST(HmacTest, Rfc2202AndLongKeys) {
  const Bytes aa80(80, 0xaa);
  const std::string first = "Test Using Larger Than Block-Size Key - Hash Key First";
  EXPECT_EQ(Hmac(Bytes(20, 0x0b), "Hi There"), "b617318655057264e28bc0b6fb378c8ef146be00");
  EXPECT_EQ(Hmac({'J', 'e', 'f', 'e'}, "what do ya want for nothing?"),
            "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79");
  EXPECT_EQ(Hmac(Bytes(20, 0xaa), std::string(50, '\xdd')), "125d7342b9ac11cd91a39af48aa17b4f63f175d3");
  EXPECT_EQ(Hmac(FromHex("0102030405060708090a0b0c0d0e0f10111213141516171819"), std::string(50, '\xcd')),
            "4c9007f4026250c6bc8414f9bf50c86c2d7235da");
  EXPECT_EQ(Hmac(Bytes(20, 0x0c), "Test With Truncation"), "4c1a03424b55e07fe7f27be1d58bb9324a9a5a04");
  EXPECT_EQ(Hmac(aa80, first), "aa4ae5e15272d00e95705637ce8a3b55ed402112");
  EXPECT_EQ(Hmac(aa80, "Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data"),
            "e8e99d0f45237d786d6bbaa7965c7808bbff1a91");
  Bytes digest(kSha1Size);
  ASSERT_TRUE(Sha1Digest(aa80.data(), aa80.size(), digest.data()));
  EXPECT_EQ(Hmac(digest, first), Hmac(aa80, first));

  HmacSha1Context ctx;  // Final drops the key: a second Final gives zeros
  ASSERT_TRUE(HmacSha1Init(ctx, aa80.data(), aa80.size()));
  HmacSha1Final(ctx, digest.data());
  HmacSha1Update(ctx, "x", 1);
  HmacSha1Final(ctx, digest.data());
  EXPECT_EQ(digest, Bytes(kHmacSha1Size, 0));
}

std::string Pbkdf2(const std::string& password, const std::string& salt, uint32_t iterations, size_t size) {
  Bytes out(size);
  EXPECT_TRUE(
      Pbkdf2Sha1(password.data(), password.size(), salt.data(), salt.size(), iterations, out.data(), size));
  return ToHex(out);
}

TEST(Pbkdf2Test, Rfc6070AndSaltLimit) {
  EXPECT_EQ(Pbkdf2("password", "salt", 1, 20), "0c60c80f961f0e71f3a9b524af6012062fe037a6");
  EXPECT_EQ(Pbkdf2("password", "salt", 2, 20), "ea6c014dc72d6f8ccd1ed92ace1d41f0d8de8957");
  EXPECT_EQ(Pbkdf2("password", "salt", 4096, 20), "4b007901b765489abead49d926f721d065a429c1");
  EXPECT_EQ(Pbkdf2("passwordPASSWORDpassword", "saltSALTsaltSALTsaltSALTsaltSALTsalt", 4096, 25),
            "3d2eec4fe41c849b80c8d83662c0e44a8b291a964cf2f07038");
  EXPECT_EQ(Pbkdf2({"pass\0word", 9}, {"sa\0lt", 5}, 4096, 16), "56fa6aa75548099dcc37d7f03425e0c3");
  Bytes out(34), first64(34), first63(34);
  EXPECT_FALSE(Pbkdf2Sha1("p", 1, "s", 1, 0, out.data(), out.size()));  // no iterations
  const Bytes salt = Pattern(70);
  for (auto kdf : {Pbkdf2Sha1, Pbkdf2Whirlpool}) {
    ASSERT_TRUE(kdf("pw", 2, salt.data(), 70, 3, out.data(), out.size()));
    ASSERT_TRUE(kdf("pw", 2, salt.data(), 64, 3, first64.data(), out.size()));
    ASSERT_TRUE(kdf("pw", 2, salt.data(), 63, 3, first63.data(), out.size()));
    EXPECT_EQ(out, first64);
    EXPECT_NE(out, first63);
  }
}

// HMAC-Whirlpool made here from the hash alone (keys shorter than the block).
Bytes HmacWhirlpool(const Bytes& key, const Bytes& message) {
  Bytes inner(64, 0x36), outer(64, 0x5c), digest(kWhirlpoolSize);
  for (size_t i = 0; i < key.size(); ++i) inner[i] ^= key[i], outer[i] ^= key[i];
  WhirlpoolContext ctx;
  for (const Bytes* pad : {&inner, &outer}) {
    EXPECT_TRUE(WhirlpoolInit(ctx));
    WhirlpoolUpdate(ctx, pad->data(), 64);
    WhirlpoolUpdate(ctx, pad == &inner ? message.data() : digest.data(), pad == &inner ? message.size() : 64);
    WhirlpoolFinal(ctx, digest.data());
  }
  return digest;
}

TEST(Pbkdf2Test, WhirlpoolMatchesAReferenceBuiltFromTheHash) {
  const Bytes password = {'s', 'e', 'c', 'r', 'e', 't'}, salt = Pattern(12);
  Bytes expected, out(66);
  for (uint8_t block = 1; block <= 2; ++block) {  // 66 bytes: two blocks, two iterations
    Bytes message = salt;
    message.insert(message.end(), {0, 0, 0, block});
    Bytes u1 = HmacWhirlpool(password, message), u2 = HmacWhirlpool(password, u1);
    for (size_t i = 0; i < u1.size(); ++i) expected.push_back(u1[i] ^ u2[i]);
  }
  expected.resize(66);
  ASSERT_TRUE(Pbkdf2Whirlpool(password.data(), password.size(), salt.data(), salt.size(), 2, out.data(), 66));
  EXPECT_EQ(ToHex(out), ToHex(expected));
}

}  // namespace
}  // namespace tx::crypto
