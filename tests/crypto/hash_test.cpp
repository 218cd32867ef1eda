#include "crypto/hash.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "crypto/crypto_test_util.h"
#include "crypto/provider.h"

namespace tx::crypto {
namespace {

using namespace testutil;

// Feeds `data` whole or in a cycle of awkward piece sizes around the block boundaries.
template <typename Ctx, bool (*Init)(Ctx&), void (*Update)(Ctx&, const void*, size_t),
          void (*Final)(Ctx&, uint8_t*), size_t kSize>
Bytes Run(const Bytes& data, bool pieces) {
  static constexpr size_t kPieces[] = {1, 3, 63, 64, 65, 127, 129, 1000, 4097};
  Ctx ctx;
  EXPECT_TRUE(Init(ctx));
  for (size_t offset = 0, i = 0; offset < data.size(); ++i) {
    size_t n = pieces ? std::min(kPieces[i % 9], data.size() - offset) : data.size();
    Update(ctx, &data[offset], n);
    offset += n;
  }
  Bytes out(kSize);
  Final(ctx, out.data());
  return out;
}

struct Algorithm {
  Bytes (*run)(const Bytes&, bool);
  const char* empty;
  const char* abc;
};

const Algorithm kMd5 = {Run<Md5Context, Md5Init, Md5Update, Md5Final, kMd5Size>,
                        "d41d8cd98f00b204e9800998ecf8427e", "900150983cd24fb0d6963f7d28e17f72"};
const Algorithm kSha1 = {Run<Sha1Context, Sha1Init, Sha1Update, Sha1Final, kSha1Size>,
                         "da39a3ee5e6b4b0d3255bfef95601890afd80709",
                         "a9993e364706816aba3e25717850c26c9cd0d89d"};
const Algorithm kAlgorithms[] = {
    kMd5,
    kSha1,
    {Run<Rmd160Context, Rmd160Init, Rmd160Update, Rmd160Final, kRmd160Size>,
     "9c1185a5c5e9fc54612808977ee8f548b2258d31", "8eb208f7e05d987a9b044a8e98c6b087f15a0bfc"},
    {Run<Sha256Context, Sha256Init, Sha256Update, Sha256Final, kSha256Size>,
     "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855",
     "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
    {Run<Sha512Context, Sha512Init, Sha512Update, Sha512Final, kSha512Size>,
     "cf83e1357eefb8bdf1542850d66d8007d620e4050b5715dc83f4a921d36ce9ce"
     "47d0d13c5d85f2b0ff8318d2877eec2f63b931bd47417a81a538327af927da3e",
     "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a"
     "2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f"},
    {Run<WhirlpoolContext, WhirlpoolInit, WhirlpoolUpdate, WhirlpoolFinal, kWhirlpoolSize>,
     "19fa61d75522a4669b44e39c1d2e1726c530232130d407f89afee0964997f7a7"
     "3e83be698b288febcf88e3e03c4f0757ea8964e59b63d93708b138cc42a66eb3",
     "4e2448a4c6f486bb16b6562c73b4020bf3043e3a731bce721ae1b303d97e6d4c"
     "7181eebdb6c57e277d0e34957114cbd6c797fc9d95d8b582d225292076d4eef5"},
};
const Bytes kAbc = {'a', 'b', 'c'};

TEST(HashTest, PublishedVectorsAndPieces) {
  ASSERT_TRUE(CryptoProvidersAvailable());
  const Bytes data = Pattern(300001);
  for (const Algorithm& a : kAlgorithms) {
    EXPECT_EQ(ToHex(a.run({}, false)), a.empty);
    EXPECT_EQ(ToHex(a.run(kAbc, false)), a.abc);
    EXPECT_EQ(a.run(data, true), a.run(data, false)) << a.abc;
  }
  Bytes md5(kMd5Size), sha1(kSha1Size);
  ASSERT_TRUE(Md5Digest(data.data(), data.size(), md5.data()) &&
              Sha1Digest(data.data(), data.size(), sha1.data()));
  EXPECT_EQ(md5, kMd5.run(data, true));
  EXPECT_EQ(sha1, kSha1.run(data, true));
}

TEST(HashTest, FinalClearsTheContextAndProvidersReload) {
  Bytes out(kSha1Size);
  Sha1Context ctx;
  Sha1Update(ctx, kAbc.data(), 3);  // before any Init: ignored, as after a Final
  Sha1Final(ctx, out.data());
  EXPECT_EQ(out, Bytes(kSha1Size, 0));
  for (int round = 0; round < 2; ++round) {
    ASSERT_TRUE(Sha1Init(ctx));
    Sha1Context moved(std::move(ctx));
    Sha1Update(moved, kAbc.data(), 3);
    ctx = std::move(moved);
    Sha1Final(ctx, out.data());
    EXPECT_EQ(ToHex(out), kSha1.abc);
    Sha1Final(ctx, out.data());
    EXPECT_EQ(out, Bytes(kSha1Size, 0));
  }
  ReleaseCryptoProviders();
  EXPECT_EQ(ToHex(kAlgorithms[5].run(kAbc, false)), kAlgorithms[5].abc);  // Whirlpool: the legacy provider
}

}  // namespace
}  // namespace tx::crypto
