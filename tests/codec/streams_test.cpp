// Deflate, BZip2 and Copy through the streaming coders, and whole blocks of every method.
#include <gtest/gtest.h>

#include "codec/block.h"
#include "codec/compressor.h"
#include "codec_test.h"

namespace tx::test {
namespace {

using codec::Method;
using codec::Outcome;

// Compresses `data` fed in 64 KiB blocks, draining small output blocks.
std::string Compress(codec::Compressor& coder, Method method, int level, const std::string& data) {
  EXPECT_TRUE(coder.Begin(method, level, 9));
  std::string out;
  uint8_t buffer[1000];
  size_t used = 0;
  auto drain = [&](bool finish) {
    for (;;) {
      codec::Compressor::Step step = coder.Run(buffer, sizeof buffer, used, finish);
      EXPECT_NE(step, codec::Compressor::Step::Failed);
      if (step != codec::Compressor::Step::OutputFull) return;
      out.append(reinterpret_cast<char*>(buffer), used);
      used = 0;
    }
  };
  for (size_t at = 0; at < data.size(); at += 65536) {
    coder.SetInput(Bytes(data) + at, std::min<size_t>(65536, data.size() - at));
    drain(false);
  }
  drain(true);
  out.append(reinterpret_cast<char*>(buffer), used);
  EXPECT_TRUE(coder.End());
  return out;
}

TEST(Streams, DeflateAndBzip2RoundTripWithReusedCoders) {
  codec::Compressor coder;
  codec::Decoder decoder;
  for (Method method : {Method::kDeflate, Method::kBzip2}) {
    for (int level : {1, 9, 9}) {
      for (size_t size : {size_t{0}, size_t{1}, size_t{65536}, size_t{700000}}) {
        const std::string data = Mixed(size, static_cast<unsigned>(size));
        const std::string packed = Compress(coder, method, level, data);
        std::string out;
        ASSERT_EQ(DecodeAll(decoder, method, "", 0, packed, out, 5000, 3000), Outcome::kOk) << size;
        EXPECT_TRUE(out == data) << size;
        EXPECT_EQ(decoder.End(), Outcome::kOk);
      }
    }
  }
  // A reused Deflate coder makes the same bytes as a fresh one.
  const std::string data = Mixed(100000, 1);
  codec::Compressor fresh;
  EXPECT_EQ(Compress(coder, Method::kDeflate, 6, data), Compress(fresh, Method::kDeflate, 6, data));
  EXPECT_FALSE(coder.Begin(Method::kLzma, 5, 8));
}

TEST(Streams, DamageTrailingDataAndCopy) {
  codec::Compressor coder;
  codec::Decoder decoder;
  const std::string data = Mixed(300000, 2);
  for (Method method : {Method::kDeflate, Method::kBzip2}) {
    const std::string packed = Compress(coder, method, 6, data);
    std::string out;
    EXPECT_EQ(DecodeAll(decoder, method, "", 0, packed.substr(0, packed.size() - 1), out), Outcome::kDamaged);
    EXPECT_EQ(DecodeAll(decoder, method, "", 0, RandomBytes(10000, 3), out), Outcome::kDamaged);
    // Bytes after the end are left for the caller.
    ASSERT_EQ(DecodeAll(decoder, method, "", 0, packed + "tail", out, packed.size() + 4), Outcome::kOk);
    EXPECT_EQ(decoder.unused(), 4u);
    EXPECT_TRUE(out == data);
  }
  // Copy hands out the fed bytes themselves, at most `room` at a time.
  ASSERT_EQ(decoder.Init(Method::kCopy, nullptr, 0, 0), Outcome::kOk);
  EXPECT_TRUE(decoder.ended());
  decoder.Feed(Bytes(data), 100);
  const uint8_t* piece;
  size_t size;
  uint8_t room[60];
  ASSERT_EQ(decoder.Next(room, sizeof room, piece, size, false), Outcome::kOk);
  EXPECT_EQ(piece, Bytes(data));
  EXPECT_EQ(size, 60u);
  ASSERT_EQ(decoder.Next(room, sizeof room, piece, size, true), Outcome::kOk);
  EXPECT_EQ(piece, Bytes(data) + 60);
  EXPECT_EQ(size, 40u);
  EXPECT_EQ(decoder.unused(), 0u);
}

TEST(Blocks, EveryMethodRoundTripsWithinItsLimits) {
  const std::string data = Mixed(200000, 4);
  std::vector<uint8_t> out(data.size() + 1000);
  for (Method method : {Method::kCopy, Method::kDeflate, Method::kBzip2, Method::kLzma}) {
    codec::BlockSettings settings;
    settings.lzma = codec::LzmaHeaderSettings(data.size());
    uint8_t properties[5];
    size_t packed = 0;
    ASSERT_EQ(codec::CompressBlock(method, settings, Bytes(data), data.size(), out.data(), packed, out.size(),
                                   properties),
              Outcome::kOk);
    std::unique_ptr<uint8_t[]> back;
    ASSERT_EQ(codec::DecompressBlock(method, properties, 5, out.data(), packed, data.size(), back),
              Outcome::kOk);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(back.get()), data.size()), data);
    // Another length than the stream has, or bytes after an LZMA stream, are damage.
    EXPECT_EQ(codec::DecompressBlock(method, properties, 5, out.data(), packed, data.size() - 1, back),
              Outcome::kDamaged);
    EXPECT_EQ(codec::DecompressBlock(method, properties, 5, out.data(), packed, data.size() + 1, back),
              Outcome::kDamaged);
    if (method == Method::kLzma || method == Method::kCopy) {
      EXPECT_EQ(codec::DecompressBlock(method, properties, 5, out.data(), packed + 1, data.size(), back),
                Outcome::kDamaged);
    }
    EXPECT_EQ(
        codec::DecompressBlock(method, properties, 5, out.data(), packed, codec::kMaxBlockSize + 1, back),
        Outcome::kTooLarge);
    size_t ignored;
    EXPECT_EQ(codec::CompressBlock(method, settings, Bytes(data), data.size(), out.data(), ignored,
                                   packed - 1, properties),
              Outcome::kTooLarge);
  }
}

}  // namespace
}  // namespace tx::test
