// LZMA: the settings, round trips, streams checked by and taken from peers, damage and
// the encoder's callbacks.
#include <gtest/gtest.h>

#include "codec_test.h"

namespace tx::test {
namespace {

using codec::Method;
using codec::Outcome;

TEST(LzmaSettings, DictionaryFollowsLevelAndInput) {
  struct Case {
    uint32_t level;
    uint64_t input;
    uint32_t dictionary;
  };
  for (Case c : {Case{5, 5000, 6144}, Case{5, 3000, 4096}, Case{9, 100000, 131072}, Case{1, 0, 4096},
                 Case{1, 49152, 49152}, Case{1, 49153, 1u << 16}})
    EXPECT_EQ(codec::LzmaDataSettings(c.level, c.input).dictionary, c.dictionary) << c.input;
  const int full[] = {16, 18, 20, 22, 24, 25, 25, 26, 26};
  for (uint32_t level = 1; level <= 9; ++level)
    EXPECT_EQ(codec::LzmaDataSettings(level, uint64_t{1} << 40).dictionary, 1u << full[level - 1]) << level;
  for (Case c : {Case{0, 100, 4096}, Case{0, 5000, 6144}, Case{0, 700000, 786432}, Case{0, 800000, 1u << 20},
                 Case{0, 5u << 20, 1u << 20}})
    EXPECT_EQ(codec::LzmaHeaderSettings(c.input).dictionary, c.dictionary) << c.input;

  // lc 3, lp 0, pb 2 and the dictionary go into the property bytes.
  std::string properties;
  LzmaOf("abc", codec::LzmaDataSettings(5, 5000), properties);
  EXPECT_EQ(properties, std::string("\x5D\x00\x18\x00\x00", 5));
}

TEST(Lzma, RoundTripsAtLevelsAndSizes) {
  codec::Decoder decoder;  // one decoder for every stream
  for (uint32_t level : {1u, 5u, 9u}) {
    for (size_t size : {size_t{0}, size_t{1}, size_t{65535}, size_t{65536}, size_t{65537}, size_t{3} << 20}) {
      if (level != 5 && size > 65537) continue;
      const std::string data = Mixed(size, level);
      std::string properties, out;
      const std::string packed = LzmaOf(data, codec::LzmaDataSettings(level, size), properties);
      ASSERT_EQ(DecodeAll(decoder, Method::kLzma, properties, size, packed, out), Outcome::kOk) << size;
      EXPECT_TRUE(out == data) << level << " " << size;
      EXPECT_EQ(decoder.unused(), 0u);
      // Small input and output pieces give the same bytes.
      ASSERT_EQ(DecodeAll(decoder, Method::kLzma, properties, size, packed, out, 777, 1000), Outcome::kOk);
      EXPECT_TRUE(out == data);
    }
  }
}

TEST(LzmaPeers, PeersDecodeOursAndWeDecodeXz) {
  TempDir dir;
  const std::string data = Mixed(1500000, 3) + RandomBytes(100000, 4);
  std::string properties, out;
  const std::string packed = LzmaOf(data, codec::LzmaDataSettings(6, data.size()), properties);
  // The .lzma file: properties, the 64-bit size, the stream.
  std::string file = properties;
  for (int i = 0; i < 8; ++i) file.push_back(static_cast<char>(uint64_t{data.size()} >> (8 * i)));
  WriteFile(dir / "ours.lzma", file + packed);
  int status = -1;
  EXPECT_TRUE(Shell("xz --format=lzma -dc " + Quote(dir / "ours.lzma"), &status) == data);
  EXPECT_EQ(status, 0);

  // xz writes an unknown size and an end marker after the data.
  WriteFile(dir / "data", data);
  const std::string by_xz = Shell("xz --format=lzma -c " + Quote(dir / "data"));
  ASSERT_GT(by_xz.size(), 13u);
  codec::Decoder decoder;
  const std::string xz_properties = by_xz.substr(0, 5), xz_stream = by_xz.substr(13);
  EXPECT_EQ(DecodeAll(decoder, Method::kLzma, xz_properties, data.size(), xz_stream, out), Outcome::kOk);
  EXPECT_TRUE(out == data);
  EXPECT_EQ(decoder.unused(), 0u);
  // A size the stream does not have: its end marker comes too early, or too late.
  for (size_t size : {data.size() + 1, data.size() - 1})
    EXPECT_EQ(DecodeAll(decoder, Method::kLzma, xz_properties, size, xz_stream, out), Outcome::kDamaged);
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

  // Dictionaries up to 1536 MiB are taken (memory follows the output), larger ones not.
  std::string big = properties;
  big.replace(1, 4, std::string("\0\0\0\x60", 4));
  EXPECT_EQ(DecodeAll(decoder, Method::kLzma, big, data.size(), packed, out), Outcome::kOk);
  EXPECT_TRUE(out == data);
  big[1] = 1;
  EXPECT_EQ(decoder.Init(Method::kLzma, Bytes(big), 5, data.size()), Outcome::kTooLarge);
  big.replace(1, 4, std::string("\0\0\0\x80", 4));
  EXPECT_EQ(decoder.Init(Method::kLzma, Bytes(big), 5, data.size()), Outcome::kTooLarge);
  big[0] = static_cast<char>(225);  // lc/lp/pb out of range
  EXPECT_EQ(decoder.Init(Method::kLzma, Bytes(big), 5, data.size()), Outcome::kSetupFailed);
  EXPECT_EQ(decoder.Init(Method::kLzma, Bytes(properties), 4, data.size()), Outcome::kSetupFailed);
}

struct Cancelling : codec::EncodeProgress {
  bool Advance(uint64_t consumed) override { return (last = consumed) < 1000000; }
  uint64_t last = 0;
};

TEST(LzmaEncode, CallbacksReportFailuresAndCancels) {
  const std::string data = RandomBytes(3000000, 11);
  const codec::LzmaSettings settings = codec::LzmaDataSettings(1, data.size());
  uint8_t properties[5] = {};
  StringSource watching(data, -1, properties);  // the properties are there before the first read
  StringSink sink, full(100000);
  ASSERT_EQ(codec::LzmaEncode(settings, watching, sink, nullptr, properties), Outcome::kOk);
  EXPECT_EQ(watching.watched, 0x5D);

  StringSource failing(data, 1), source(data), again(data), unread(data);
  EXPECT_EQ(codec::LzmaEncode(settings, failing, sink, nullptr, properties), Outcome::kReadFailed);
  EXPECT_EQ(codec::LzmaEncode(settings, source, full, nullptr, properties), Outcome::kWriteFailed);
  Cancelling progress;
  EXPECT_EQ(codec::LzmaEncode(settings, again, sink, &progress, properties), Outcome::kCancelled);
  EXPECT_GE(progress.last, 1000000u);
  codec::LzmaSettings wrong = settings;
  wrong.lc = 9;
  EXPECT_EQ(codec::LzmaEncode(wrong, unread, sink, nullptr, properties), Outcome::kSetupFailed);
  EXPECT_EQ(unread.reads, 0);
}

}  // namespace
}  // namespace tx::test
