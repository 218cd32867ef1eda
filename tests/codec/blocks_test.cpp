// Whole blocks of every method: round trips, lengths that do not match, limits.
#include <gtest/gtest.h>

#include "codec/block.h"
#include "codec_test.h"

namespace tx::test {
namespace {

using codec::Method;
using codec::Outcome;

TEST(Blocks, EveryMethodRoundTripsWithinItsLimits) {
  const std::string data = Mixed(200000, 4);
  std::vector<uint8_t> out(data.size() + 1000);
  for (Method method : {Method::kCopy, Method::kDeflate, Method::kBzip2, Method::kLzma}) {
    codec::BlockSettings settings;
    settings.lzma = codec::LzmaHeaderSettings(data.size());
    uint8_t properties[5];
    size_t packed = 0;
    auto compress = [&](size_t capacity) {
      return codec::CompressBlock(method, settings, Bytes(data), data.size(), out.data(), packed, capacity,
                                  properties);
    };
    std::unique_ptr<uint8_t[]> back;
    auto decompress = [&](size_t size, size_t expected) {
      return codec::DecompressBlock(method, properties, 5, out.data(), size, expected, back);
    };
    ASSERT_EQ(compress(out.size()), Outcome::kOk);
    const size_t length = packed;
    ASSERT_EQ(decompress(length, data.size()), Outcome::kOk);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(back.get()), data.size()), data);
    // Another length than the stream has, or bytes after an LZMA stream, are damage.
    EXPECT_EQ(decompress(length, data.size() - 1), Outcome::kDamaged);
    EXPECT_EQ(decompress(length, data.size() + 1), Outcome::kDamaged);
    EXPECT_EQ(decompress(length + 1, data.size()),
              method == Method::kLzma || method == Method::kCopy ? Outcome::kDamaged : Outcome::kOk);
    EXPECT_EQ(decompress(length, codec::kMaxBlockSize + 1), Outcome::kTooLarge);
    EXPECT_EQ(compress(length - 1), Outcome::kTooLarge);
  }
}

}  // namespace
}  // namespace tx::test
