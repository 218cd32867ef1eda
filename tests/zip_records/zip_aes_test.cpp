// WinZip AES against vectors made with Cryptodome (AES-CTR with a little-endian counter
// from 1) and Python's hashlib and hmac (PBKDF2-HMAC-SHA1, HMAC-SHA1), in pieces of any size.
#include "zip/zip_aes.h"

#include <gtest/gtest.h>

#include "crypto/crypto_test_util.h"
#include "crypto/hash.h"

namespace tx::zip {
namespace {

using crypto::testutil::Bytes;
using crypto::testutil::Pattern;
using crypto::testutil::ToHex;

// Salt a0 a1 a2 ... of half the key. Short: bytes 00..27 under "password"; long: 100000
// bytes 00 01 .. ff 00 .. under "Tessarex \u20ac", the cipher text as its SHA-1.
struct Vector {
  uint32_t key_length;
  const char *verifier, *cipher, *code, *long_verifier, *long_cipher_sha1, *long_code;
} const kVectors[] = {
    {16, "5105", "018193b7c82c0925b8df559b2f5872e9672db3d2a0139f96c41ecaa4ced2bc9f4ed6ec6fc41192b6",
     "1a48b42552605ad8d5fb", "737c", "41561ca64db01ffac0639dfcb60444cecbc3b6e2", "164e24c9ca861a803196"},
    {24, "b880", "e89905066b75dc975520e9b14477f3f854c6ab465f192f95217081b7274bc74c6b60176624c32c4a",
     "5fa00c9e92c752b535b9", "2ccd", "b05b3ce10138675005dd69f2f47638fe6f5ff571", "a70cf52c5d2a42d13c3c"},
    {32, "2b00", "b83fc6b630808db1baa72a012e5d6326f008db2e4284bd5613685ca07ef8c509a64a0fccd933ea13",
     "206602e766649dcdfa89", "818a", "9101658dde127c6d1aeb82c6586b03f1bd26a74a", "d086eadbda12f71cfacb"},
};

// Runs `data` through a fresh context in pieces cycling over `pieces`: verifier and code.
std::pair<std::string, std::string> Crypt(bool encrypt, uint32_t key_length, const std::string& password,
                                          Bytes& data, const std::vector<size_t>& pieces) {
  Bytes salt(key_length / 2);
  for (size_t i = 0; i < salt.size(); ++i) salt[i] = static_cast<uint8_t>(0xA0 + i);
  ZipAesContext context;
  uint8_t verifier[kAesVerifierSize], code[kAesCodeSize];
  EXPECT_TRUE(ZipAesSetup(key_length, reinterpret_cast<const uint8_t*>(password.data()), password.size(),
                          salt.data(), verifier, context));
  for (size_t i = 0, at = 0, n; at < data.size(); ++i, at += n) {
    n = std::min(pieces[i % pieces.size()], data.size() - at);
    (encrypt ? ZipAesEncrypt : ZipAesDecrypt)(data.data() + at, n, context);
  }
  ZipAesFinish(code, context);
  return {ToHex(verifier, sizeof verifier), ToHex(code, sizeof code)};
}

TEST(ZipAes, VectorsForEveryKeyLengthInPiecesOfAnySize) {
  for (const Vector& v : kVectors) {
    Bytes data = Pattern(40, 0);
    EXPECT_EQ(Crypt(true, v.key_length, "password", data, {40}),
              std::pair(std::string(v.verifier), std::string(v.code)));
    EXPECT_EQ(ToHex(data), v.cipher);
    for (const std::vector<size_t>& pieces :
         {std::vector<size_t>{1}, {15}, {65536}, {4095, 1, 4097, 16, 0}}) {
      data = Pattern(100000, 0);
      const std::pair<std::string, std::string> expected(v.long_verifier, v.long_code);
      EXPECT_EQ(Crypt(true, v.key_length, "Tessarex \xe2\x82\xac", data, pieces), expected);
      uint8_t digest[crypto::kSha1Size];
      ASSERT_TRUE(crypto::Sha1Digest(data.data(), data.size(), digest));
      EXPECT_EQ(ToHex(digest, sizeof digest), v.long_cipher_sha1) << v.key_length << " " << pieces[0];
      // Decryption authenticates the same cipher text and restores the plain text.
      EXPECT_EQ(Crypt(false, v.key_length, "Tessarex \xe2\x82\xac", data, pieces), expected);
      EXPECT_EQ(data, Pattern(100000, 0));
    }
  }
}

TEST(ZipAes, VerifierEmptyPasswordAndBadSetups) {
  ZipAesContext context;
  uint8_t salt[16] = {}, verifier[2], code[kAesCodeSize];
  ASSERT_TRUE(ZipAesSetup(16, nullptr, 0, salt, verifier, context));
  ZipAesFinish(code, context);
  EXPECT_EQ(ToHex(verifier, 2) + ToHex(code, sizeof code), "27e99218e2bfb69723bcaa85");
  Bytes data = Pattern(1, 0);
  EXPECT_NE(Crypt(true, 32, "passwore", data, {1}).first, "2b00");  // a wrong password's verifier
  EXPECT_FALSE(ZipAesSetup(20, salt, 8, salt, verifier, context));
  // A context without keys hands out zeros, never the plain text.
  data = Bytes(100, 0x55);
  ZipAesEncrypt(data.data(), data.size(), context);
  EXPECT_EQ(data, Bytes(100, 0));
}

}  // namespace
}  // namespace tx::zip
