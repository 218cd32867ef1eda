// LZMA: the settings, round trips, streams checked by and taken from peers, damage and
// the encoder's callbacks.
#include <gtest/gtest.h>

#include "codec/block.h"
#include "codec_test.h"

namespace tx::test {
namespace {

using codec::Method;
using codec::Outcome;

uint32_t DictionaryOf(const std::string& properties) {
  return uint32_t{uint8_t(properties[1])} | uint32_t{uint8_t(properties[2])} << 8 |
         uint32_t{uint8_t(properties[3])} << 16 | uint32_t{uint8_t(properties[4])} << 24;
}

TEST(LzmaSettings, DictionaryFollowsLevelAndInput) {
  EXPECT_EQ(codec::LzmaDataSettings(5, 5000).dictionary, 6144u);
  EXPECT_EQ(codec::LzmaDataSettings(5, 3000).dictionary, 4096u);
  EXPECT_EQ(codec::LzmaDataSettings(9, 100000).dictionary, 131072u);
  EXPECT_EQ(codec::LzmaDataSettings(1, 0).dictionary, 4096u);
  EXPECT_EQ(codec::LzmaDataSettings(1, 49152).dictionary, 49152u);
  EXPECT_EQ(codec::LzmaDataSettings(1, 49153).dictionary, 1u << 16);
  const uint32_t full[] = {16, 18, 20, 22, 24, 25, 25, 26, 26};
  for (uint32_t level = 1; level <= 9; ++level)
    EXPECT_EQ(codec::LzmaDataSettings(level, uint64_t{1} << 40).dictionary, 1u << full[level - 1]) << level;

  codec::LzmaSettings fast = codec::LzmaDataSettings(3, 1000), normal = codec::LzmaDataSettings(7, 1000);
  EXPECT_EQ(fast.binary_tree, 0);
  EXPECT_EQ(fast.fast_bytes, 32);
  EXPECT_EQ(fast.match_cycles, 16u);
  EXPECT_EQ(normal.binary_tree, 1);
  EXPECT_EQ(normal.fast_bytes, 64);
  EXPECT_EQ(normal.match_cycles, 48u);
  EXPECT_EQ(normal.hash_bytes, 4);

  EXPECT_EQ(codec::LzmaHeaderSettings(100).dictionary, 4096u);
  EXPECT_EQ(codec::LzmaHeaderSettings(5000).dictionary, 6144u);
  EXPECT_EQ(codec::LzmaHeaderSettings(700000).dictionary, 786432u);
  EXPECT_EQ(codec::LzmaHeaderSettings(800000).dictionary, 1u << 20);
  EXPECT_EQ(codec::LzmaHeaderSettings(5u << 20).dictionary, 1u << 20);
  EXPECT_EQ(codec::LzmaHeaderSettings(1).fast_bytes, 273);
  EXPECT_EQ(codec::LzmaHeaderSettings(1).hash_bytes, 2);

  // The dictionary and lc/lp/pb go into the property bytes as they are.
  std::string properties;
  LzmaOf("abc", codec::LzmaDataSettings(5, 5000), properties);
  EXPECT_EQ(uint8_t(properties[0]), 0x5D);
  EXPECT_EQ(DictionaryOf(properties), 6144u);
}

TEST(Lzma, RoundTripsAtLevelsAndSizes) {
  codec::Decoder decoder;  // one decoder for every stream
  for (uint32_t level : {1u, 5u, 9u}) {
    for (size_t size : {size_t{1}, size_t{65535}, size_t{65536}, size_t{65537}, size_t{3} << 20}) {
      if (level != 5 && size > 65537) continue;
      const std::string data = Mixed(size, level);
      std::string properties, out;
      const std::string packed = LzmaOf(data, codec::LzmaDataSettings(level, size), properties);
      ASSERT_EQ(DecodeAll(decoder, Method::kLzma, properties, size, packed, out), Outcome::kOk)
          << level << " " << size;
      EXPECT_TRUE(out == data) << level << " " << size;
      EXPECT_EQ(decoder.unused(), 0u);
      // Small input pieces and small output pieces give the same bytes.
      ASSERT_EQ(DecodeAll(decoder, Method::kLzma, properties, size, packed, out, 777, 1000), Outcome::kOk);
      EXPECT_TRUE(out == data);
    }
  }
  // Nothing at all still makes a stream that ends.
  std::string properties, out;
  const std::string empty = LzmaOf("", codec::LzmaDataSettings(5, 0), properties);
  EXPECT_EQ(DecodeAll(decoder, Method::kLzma, properties, 0, empty, out), Outcome::kOk);
  EXPECT_EQ(out, "");
}

class LzmaPeers : public ::testing::Test {
 protected:
  std::string Run(const std::string& command) {
    int status = -1;
    std::string output = Shell(command, &status);
    EXPECT_EQ(status, 0) << command;
    return output;
  }
  TempDir dir_;
};

TEST_F(LzmaPeers, PeersDecodeOursAndWeDecodeTheirs) {
  const std::string data = Mixed(1500000, 3) + RandomBytes(100000, 4);
  std::string properties;
  const std::string packed = LzmaOf(data, codec::LzmaDataSettings(6, data.size()), properties);
  // The .lzma file: properties, the 64-bit size, the stream.
  std::string file = properties;
  for (int i = 0; i < 8; ++i) file.push_back(static_cast<char>(uint64_t{data.size()} >> (8 * i)));
  WriteFile(dir_ / "ours.lzma", file + packed);
  EXPECT_TRUE(Run("xz --format=lzma -dc " + Quote(dir_ / "ours.lzma")) == data);
  Run("7zz t -tlzma " + Quote(dir_ / "ours.lzma") + " > /dev/null");

  // xz writes an unknown size and an end marker after the data.
  WriteFile(dir_ / "data", data);
  const std::string by_xz = Run("xz --format=lzma -c " + Quote(dir_ / "data"));
  ASSERT_GT(by_xz.size(), 13u);
  codec::Decoder decoder;
  std::string out;
  EXPECT_EQ(DecodeAll(decoder, Method::kLzma, by_xz.substr(0, 5), data.size(), by_xz.substr(13), out),
            Outcome::kOk);
  EXPECT_TRUE(out == data);
  EXPECT_EQ(decoder.unused(), 0u);

  // A size the stream does not have: its end marker comes too early, or too late.
  EXPECT_EQ(DecodeAll(decoder, Method::kLzma, by_xz.substr(0, 5), data.size() + 1, by_xz.substr(13), out),
            Outcome::kDamaged);
  EXPECT_EQ(DecodeAll(decoder, Method::kLzma, by_xz.substr(0, 5), data.size() - 1, by_xz.substr(13), out),
            Outcome::kDamaged);
}

TEST(LzmaDamage, TruncatedCorruptOrOutOfBoundsStreamsAreRefused) {
  const std::string data = Mixed(200000, 5);
  std::string properties, out;
  const std::string packed = LzmaOf(data, codec::LzmaDataSettings(5, data.size()), properties);
  codec::Decoder decoder;
  for (size_t cut : {size_t{0}, size_t{3}, size_t{100}, packed.size() / 2, packed.size() - 1})
    EXPECT_EQ(DecodeAll(decoder, Method::kLzma, properties, data.size(), packed.substr(0, cut), out),
              Outcome::kDamaged)
        << cut;
  // Noise decodes to an error or to other bytes, never hangs or overruns.
  for (unsigned seed = 0; seed < 20; ++seed) {
    std::string noisy = packed;
    for (int i = 0; i < 8; ++i) noisy[(seed * 7919 + i * 104729) % noisy.size()] ^= static_cast<char>(1 + i);
    Outcome outcome = DecodeAll(decoder, Method::kLzma, properties, data.size(), noisy, out, 4096, 3000);
    EXPECT_TRUE(outcome == Outcome::kDamaged || out != data) << seed;
    EXPECT_LE(out.size(), data.size());
  }
  std::string noise = RandomBytes(5000, 9);
  noise[0] = 0;
  EXPECT_EQ(DecodeAll(decoder, Method::kLzma, properties, data.size(), noise, out), Outcome::kDamaged);

  // Dictionaries: up to 1536 MiB taken (memory follows the output), beyond refused.
  std::string big = properties;
  big.replace(1, 4, std::string("\0\0\0\x60", 4));  // 1536 MiB
  EXPECT_EQ(DecodeAll(decoder, Method::kLzma, big, data.size(), packed, out), Outcome::kOk);
  EXPECT_TRUE(out == data);
  big[1] = 1;  // one byte more
  EXPECT_EQ(decoder.Init(Method::kLzma, Bytes(big), 5, data.size()), Outcome::kTooLarge);
  big = properties;
  big[4] = static_cast<char>(0x80);  // 2 GiB
  EXPECT_EQ(decoder.Init(Method::kLzma, Bytes(big), 5, data.size()), Outcome::kTooLarge);
  big[0] = static_cast<char>(225);  // lc/lp/pb out of range
  EXPECT_EQ(decoder.Init(Method::kLzma, Bytes(big), 5, data.size()), Outcome::kSetupFailed);
  EXPECT_EQ(decoder.Init(Method::kLzma, Bytes(properties), 4, data.size()), Outcome::kSetupFailed);
}

class Cancelling : public codec::EncodeProgress {
 public:
  bool Advance(uint64_t consumed) override {
    last = consumed;
    return consumed < 1000000;
  }
  uint64_t last = 0;
};

TEST(LzmaEncode, CallbacksReportFailuresAndCancels) {
  const std::string data = RandomBytes(3000000, 11);
  codec::LzmaSettings settings = codec::LzmaDataSettings(1, data.size());
  uint8_t properties[5] = {};

  // The properties are there before the first read.
  class Watching : public StringSource {
   public:
    Watching(const std::string& data, const uint8_t* properties)
        : StringSource(data), properties_(properties) {}
    bool Read(uint8_t* buffer, size_t& size) override {
      if (reads() == 0) seen = properties_[0];
      return StringSource::Read(buffer, size);
    }
    uint8_t seen = 0;

   private:
    const uint8_t* properties_;
  } watching(data, properties);
  StringSink sink;
  ASSERT_EQ(codec::LzmaEncode(settings, watching, sink, nullptr, properties), Outcome::kOk);
  EXPECT_EQ(watching.seen, 0x5D);

  StringSource failing(data, 1);
  StringSink unused;
  EXPECT_EQ(codec::LzmaEncode(settings, failing, unused, nullptr, properties), Outcome::kReadFailed);
  StringSource source(data);
  StringSink full(100000);
  EXPECT_EQ(codec::LzmaEncode(settings, source, full, nullptr, properties), Outcome::kWriteFailed);
  StringSource again(data);
  StringSink plenty;
  Cancelling progress;
  EXPECT_EQ(codec::LzmaEncode(settings, again, plenty, &progress, properties), Outcome::kCancelled);
  EXPECT_GE(progress.last, 1000000u);
  codec::LzmaSettings wrong = settings;
  wrong.lc = 9;
  StringSource unread(data);
  EXPECT_EQ(codec::LzmaEncode(wrong, unread, plenty, nullptr, properties), Outcome::kSetupFailed);
  EXPECT_EQ(unread.reads(), 0);
}

}  // namespace
}  // namespace tx::test
