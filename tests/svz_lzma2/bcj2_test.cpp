// BCJ2 folders: opcodes at every edge of the stream, branches without compression, and
// damage anywhere in the four streams give a code and no file, never a crash.
#include "svz_unpack/svz_test.h"

namespace tx::test {
namespace {

using Bcj2 = SvzScratch;

// Code-like bytes: calls, jumps and conditional jumps whose targets repeat, between
// stretches of other bytes, plus streams that end on or just after an opcode.
std::map<std::string, std::string> EdgeFiles() {
  std::string code;
  uint32_t seed = 5;
  for (int i = 0; i < 30000; ++i) {
    seed = seed * 1103515245u + 12345u;
    const uint32_t target = 0x1000u * (seed >> 28) - static_cast<uint32_t>(code.size());
    static const char* ops[] = {"\xE8", "\xE9", "\x0F\x84", "\x0F\x85", "\x48\x89", "\xE8\xE8"};
    code += ops[(seed >> 8) % 6];
    for (int k = 0; k < 4; ++k) code += static_cast<char>(target >> (8 * k));
    code += std::string((seed >> 16) % 5, static_cast<char>(seed >> 3));
  }
  std::map<std::string, std::string> files = {{"code.bin", code}};
  const std::string ends[] = {"\xE8", "\x0F", "\x0F\x85", "\xE9\x01", "\xE8\x01\x02\x03", "\xE8\x01\x02\x03\x04"};
  for (size_t i = 0; i < std::size(ends); ++i) files["end" + std::to_string(i)] = "abc" + ends[i];
  return files;
}

constexpr const char* kCopyBranches = "-m0=BCJ2 -m1=Copy -m2=Copy -m3=Copy -mb0s0:1 -mb0s1:2 -mb0s2:3";

TEST_F(Bcj2, EdgesAndPlainBranchesComeOutByteIdentical) {
  Source(EdgeFiles());
  const auto expected = Tree(dir / "src");
  for (std::string switches : {std::string(kCopyBranches),
                               std::string("-m0=BCJ2 -m1=LZMA -m2=LZMA -m3=LZMA -mb0s0:1 -mb0s1:2 -mb0s2:3"),
                               std::string("-mf=BCJ2 -ms=off -mhe=on -pk")}) {
    const char* password = switches.find("-pk") != std::string::npos ? "k" : nullptr;
    std::string out = Out();
    std::string archive = SevenZip(switches);
    EXPECT_EQ(Unpack(3, archive, out, password), 0u) << switches;
    EXPECT_TRUE(Tree(out) == expected) << switches;
  }
}

TEST_F(Bcj2, DamageInAnyStreamGivesACodeAndNoFile) {
  Source({{"code.bin", EdgeFiles()["code.bin"].substr(0, 1200)}});
  const std::string good = ReadFile(SevenZip(std::string(kCopyBranches) + " -mhc=off"));
  const std::string plain = ReadFile(dir / "src/code.bin");
  const size_t end = 32 + static_cast<size_t>(Load64(good, 12));
  // Every byte of the four packed streams, flipped; then the streams cut short, one by one,
  // by shrinking a packed size (the header's pack sizes follow kPackInfo, kSize).
  size_t refused = 0;
  for (size_t at = 32; at < end; ++at) {
    std::string a = good;
    a[at] = static_cast<char>(a[at] ^ 0x10);
    std::string out = Out();
    const uint32_t code = Unpack(3, Save(a), out);
    if (code == 0) {
      EXPECT_EQ(ReadFile(out + "/code.bin"), plain) << at;  // only the range coder's tail
    } else {
      ++refused;
      EXPECT_FALSE(fs::exists(out + "/code.bin")) << at;
    }
  }
  EXPECT_GT(refused, (end - 32) * 9 / 10);
  const size_t sizes = good.find(std::string("\x06\x00\x04\x09", 4), end) + 4;
  ASSERT_LT(sizes, good.size());
  for (int stream = 0; stream < 4; ++stream) {
    std::string a = good;
    size_t at = sizes;
    for (int k = 0; k < stream; ++k) at += (static_cast<uint8_t>(a[at]) & 0x80) ? 2 : 1;
    // One- or two-byte numbers; the low byte of each is the last.
    const size_t low = (static_cast<uint8_t>(a[at]) & 0x80) ? at + 1 : at;
    ASSERT_GE(static_cast<uint8_t>(a[low]), 2) << stream;
    a[low] = static_cast<char>(a[low] - 2);
    FixCrcs(a);
    std::string out = Out();
    EXPECT_NE(Unpack(3, Save(a), out), 0u) << stream;
    EXPECT_FALSE(fs::exists(out + "/code.bin")) << stream;
  }
}

}  // namespace
}  // namespace tx::test
