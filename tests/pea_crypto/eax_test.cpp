#include "crypto/eax.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "crypto/crypto_test_util.h"

namespace tx::crypto {
namespace {

using namespace testutil;

// "CIPHER TAG" in hex, the data fed in pieces of `piece` bytes.
std::string Seal(const char* key, const char* nonce, const char* header, Bytes& data, bool encrypt,
                 size_t piece) {
  EaxContext ctx;
  Bytes k = FromHex(key), n = FromHex(nonce), h = FromHex(header);
  EXPECT_TRUE(EaxInit(ctx, k.data(), k.size(), n.data(), n.size(), h.data(), h.size()));
  for (size_t at = 0; at < data.size(); at += piece) {
    size_t size = std::min(piece, data.size() - at);
    EXPECT_TRUE(encrypt ? EaxEncrypt(ctx, data.data() + at, size) : EaxDecrypt(ctx, data.data() + at, size));
  }
  uint8_t tag[kEaxTagSize];
  EXPECT_TRUE(EaxFinal(ctx, tag));
  return ToHex(data) + " " + ToHex(tag, sizeof tag);
}

TEST(EaxTest, PaperVectorsInPiecesOfAnyLengthAndTampering) {
  // AES-128, 16-byte nonce, 8-byte header: key, nonce, header, message, cipher text and tag.
  const char* rows[][5] = {
      {"91945d3f4dcbee0bf45ef52255f095a4", "becaf043b0a23d843194ba972c66debd", "fa3bfd4806eb53fa", "f7fb",
       "19dd 5c4c9331049d0bdab0277408f67967e5"},
      {"7c77d6e813bed5ac98baa417477a2e7d", "1a8c98dcd73d38393b2bf1569deefc19", "65d2017990d62528",
       "8b0a79306c9ce7ed99dae4f87f8dd61636",
       "02083e3979da014812f59f11d52630da30 137327d10649b0aa6e1c181db617d7f2"},
  };
  for (auto& [key, nonce, header, plain, expected] : rows) {
    std::string tag = std::string(expected).substr(std::string(expected).find(' '));
    for (size_t piece = 1; piece <= 17; ++piece) {
      Bytes data = FromHex(plain);
      EXPECT_EQ(Seal(key, nonce, header, data, true, piece), expected) << piece;
      Bytes tampered = data;
      EXPECT_EQ(Seal(key, nonce, header, data, false, 18 - piece), plain + tag) << piece;
      tampered[piece % tampered.size()] ^= 1;
      EXPECT_NE(Seal(key, nonce, header, tampered, false, piece).substr(tampered.size() * 2), tag);
    }
  }
}

TEST(EaxTest, CounterCarriesThroughAllSixteenBytes) {
  AesEncryptContext key;
  ASSERT_EQ(AesSetEncryptKey(Pattern(16).data(), 16, key), kAesKeyOk);
  for (std::string start : {"0000000000000000ffffffffffffffff", "ffffffffffffffffffffffffffffffff"}) {
    AesCtrStream ctr;
    ctr.Start(FromHex(start).data());
    Bytes stream(32, 0),
        expected =
            FromHex(start + (start[0] == '0' ? "0000000000000001" : "0000000000000000") + "0000000000000000");
    ASSERT_TRUE(ctr.Apply(stream.data(), 32, key) && AesEcbEncrypt(expected.data(), expected.data(), 2, key));
    EXPECT_EQ(stream, expected) << start;
  }
}

}  // namespace
}  // namespace tx::crypto
