// Zstandard: streams of several frames (skippable ones among them) from libzstd and the
// zstd command, fed and taken in pieces of any size; damage, sizes that do not match, and
// windows beyond the limit.
#include <gtest/gtest.h>
#include <zstd.h>

#include "codec_test.h"

namespace tx::test {
namespace {

using codec::Method;
using codec::Outcome;

std::string Frame(const std::string& data, int level) {
  std::string out(ZSTD_compressBound(data.size()), '\0');
  const size_t n = ZSTD_compress(out.data(), out.size(), data.data(), data.size(), level);
  EXPECT_FALSE(ZSTD_isError(n));
  out.resize(ZSTD_isError(n) ? 0 : n);
  return out;
}

std::string Le32(uint32_t v) {
  std::string s;
  for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>(v >> (8 * i)));
  return s;
}

std::string Skippable(const std::string& content) {
  return Le32(0x184D2A5A) + Le32(content.size()) + content;
}

// A frame with no content size and the given window, holding `data` as one raw block.
std::string RawFrame(int window_log, const std::string& data) {
  std::string s = Le32(0xFD2FB528);
  s.push_back('\0');
  s.push_back(static_cast<char>((window_log - 10) << 3));
  const uint32_t block = static_cast<uint32_t>(data.size()) << 3 | 1;  // last, raw
  return s + Le32(block).substr(0, 3) + data;
}

Outcome Decode(codec::Decoder& decoder, uint64_t size, const std::string& input, std::string& out,
               size_t feed = 65536, size_t room = 65536) {
  return DecodeAll(decoder, Method::kZstd, "", size, input, out, feed, room, true);
}

TEST(Zstd, FramesFromLibzstdAndTheCommandInPiecesOfAnySize) {
  codec::Decoder decoder;  // one decoder, and one libzstd context, for every stream
  const std::string a = Mixed(300000, 1), b = RandomBytes(70000, 2), c = Mixed(5000, 3);
  const std::string data = a + b + c;
  const std::string stream = Skippable("front") + Frame(a, 3) + Frame("", 1) + Frame(b, 1) + Skippable("") +
                             Frame(c, 19) + Skippable(RandomBytes(100, 4));
  std::string out;
  for (size_t feed : {size_t{1}, size_t{13}, size_t{4096}, size_t{65536}, stream.size()}) {
    for (size_t room : {size_t{1}, size_t{777}, size_t{65536}}) {
      if (feed * room == 1) continue;  // slow and nothing new
      ASSERT_EQ(Decode(decoder, data.size(), stream, out, feed, room), Outcome::kOk) << feed << " " << room;
      EXPECT_TRUE(out == data) << feed << " " << room;
    }
  }

  // The command's frames with checksums, two files one after the other.
  TempDir dir;
  WriteFile(dir / "a", a);
  WriteFile(dir / "c", c);
  int status = -1;
  const std::string by_zstd =
      Shell("zstd -q -c --check " + Quote(dir / "a") + " " + Quote(dir / "c"), &status);
  ASSERT_EQ(status, 0);
  ASSERT_EQ(Decode(decoder, a.size() + c.size(), by_zstd, out, 1000, 4000), Outcome::kOk);
  EXPECT_TRUE(out == a + c);
  // A damaged checksum.
  std::string bad = by_zstd;
  bad[bad.size() - 1] ^= 1;
  EXPECT_EQ(Decode(decoder, a.size() + c.size(), bad, out), Outcome::kDamaged);

  // An empty stream is one empty frame.
  EXPECT_EQ(Decode(decoder, 0, Frame("", 3), out), Outcome::kOk);
  EXPECT_EQ(Decode(decoder, 0, "", out), Outcome::kDamaged);
}

TEST(ZstdDamage, TruncatedOrMismatchedStreamsAndLargeWindowsAreRefused) {
  codec::Decoder decoder;
  const std::string a = Mixed(200000, 5), b = RandomBytes(3000, 6);
  const std::string stream = Frame(a, 5) + Frame(b, 5);
  std::string out;
  for (size_t cut : {size_t{0}, size_t{3}, size_t{100}, stream.size() / 2, stream.size() - b.size() - 20,
                     stream.size() - 1})
    EXPECT_EQ(Decode(decoder, a.size() + b.size(), stream.substr(0, cut), out, 4096), Outcome::kDamaged)
        << cut;
  // Sizes the stream does not have: output beyond the size, or a stream ending too early,
  // also where the size falls on the end of a frame.
  for (size_t size : {a.size() + b.size() - 1, a.size() + b.size() + 1, a.size()})
    EXPECT_EQ(Decode(decoder, size, stream, out, 5000, 3000), Outcome::kDamaged) << size;
  EXPECT_EQ(Decode(decoder, a.size(), stream, out, stream.size()), Outcome::kDamaged);
  // Truncated skippable frame after the end.
  EXPECT_EQ(Decode(decoder, a.size(), Frame(a, 5) + Skippable("tail").substr(0, 9), out), Outcome::kDamaged);
  // Noise decodes to an error or to other bytes, never hangs or overruns.
  for (unsigned seed = 0; seed < 20; ++seed) {
    std::string noisy = stream;
    for (int i = 0; i < 8; ++i) noisy[(seed * 7919 + i * 104729) % noisy.size()] ^= static_cast<char>(1 + i);
    const Outcome outcome = Decode(decoder, a.size() + b.size(), noisy, out, 4096, 3000);
    EXPECT_TRUE(outcome == Outcome::kDamaged || outcome == Outcome::kTooLarge || out != a + b) << seed;
    EXPECT_LE(out.size(), a.size() + b.size());
  }

  // Windows above libzstd's default limit are taken up to 2^30, larger ones refused before
  // anything is allocated.
  for (int log : {12, 28}) {
    EXPECT_EQ(Decode(decoder, b.size(), RawFrame(log, b), out), Outcome::kOk) << log;
    EXPECT_TRUE(out == b);
  }
  EXPECT_EQ(Decode(decoder, b.size(), RawFrame(codec::kMaxZstdWindowLog + 1, b), out), Outcome::kTooLarge);
  TempDir dir;
  WriteFile(dir / "b", b);
  int status = -1;
  // From a pipe the command knows no size, so the frame keeps its window.
  const std::string long_window = Shell("zstd -q -c --long=31 < " + Quote(dir / "b"), &status);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(Decode(decoder, b.size(), long_window, out), Outcome::kTooLarge);
  ASSERT_EQ(Decode(decoder, b.size(), stream.substr(stream.size() - Frame(b, 5).size()), out), Outcome::kOk);
  EXPECT_TRUE(out == b);  // the decoder recovers for the next stream
}

}  // namespace
}  // namespace tx::test
