// The RISC-V branch converter against 7-Zip's (RISCV then Copy leaves the converted bytes
// right after the 32-byte start header), on made-up code, noise, short streams and RISC-V
// libraries where the cross toolchain is installed; decoding restores the input.
#include <gtest/gtest.h>

#include <filesystem>

#include "codec/bcj_riscv.h"
#include "codec_test.h"

namespace tx::test {
namespace {

// Converts `data` as a stream arriving in pieces of `piece` bytes; the bytes a call leaves
// are presented again with the next piece, and passed on as they are at the end.
std::string Convert(const std::string& data, bool encoding, size_t piece) {
  codec::RiscvConverter converter(encoding);
  std::string out, pending;
  for (size_t at = 0; at < data.size(); at += piece) {
    pending.append(data, at, piece);
    size_t done = converter.Convert(reinterpret_cast<uint8_t*>(pending.data()), pending.size());
    EXPECT_LE(pending.size() - done, codec::RiscvConverter::kMaxHeldBack);
    out.append(pending, 0, done);
    pending.erase(0, done);
  }
  return out + pending;
}

// Made-up code: JALs with link and other registers, AUIPCs with and without a user of their
// result, AUIPC x2 shaped like a converted pair, compressed instructions and stray bytes.
std::string Synthetic(size_t size, unsigned seed) {
  std::mt19937 gen(seed);
  std::string s;
  auto put = [&](uint32_t v, int bytes) {
    for (int k = 0; k < bytes; ++k) s += static_cast<char>(v >> (8 * k));
  };
  auto reg = [&] {
    const uint32_t some[] = {0, 1, 2, 5, static_cast<uint32_t>(gen() % 32)};
    return some[gen() % 5];
  };
  while (s.size() < size) {
    const uint32_t r = gen(), rd = reg();
    switch (gen() % 8) {
      case 0:
        put(0x6F | rd << 7 | (r & 0xFFFFF000), 4);  // JAL
        break;
      case 1:
      case 2: {
        put(0x17 | rd << 7 | (r & 0xFFFFF000), 4);  // AUIPC, mostly with a JALR or load after it
        const uint32_t rs1 = gen() % 4 != 0 ? rd : reg(), next = gen();
        put((next & 0xFFF07FFC) | rs1 << 15 | (gen() % 4 != 0 ? 3 : next & 3), 4);
        break;
      }
      case 3:
        put(0x3117 | (r & 0xFFFFC000), 4);
        put(gen(), 4);
        break;
      case 4:
        put((r & 0xFFFC) | gen() % 3, 2);  // compressed
        break;
      case 5: put(r, gen() % 4 + 1); break;
      default: put(0xEF | (gen() % 2 ? 0u : 0x200u) | (r & 0xFFFFF000), 4);  // call through x1 or x5
    }
  }
  s.resize(size);
  return s;
}

// 7-Zip's conversion of `data`.
std::string SevenZip(const TempDir& dir, const std::string& data) {
  WriteFile(dir / "code", data);
  std::filesystem::remove(dir / "a.7z");
  EXPECT_EQ(Peer("cd " + Quote(dir.path().string()) + " && 7zz a -t7z -m0=RISCV -m1=Copy -mhc=off a.7z code"),
            0);
  return ReadFile(dir / "a.7z").substr(32, data.size());
}

TEST(RiscvPeer, ConvertsAsSevenZipDoesInPiecesOfAnySize) {
  TempDir dir;
  std::vector<std::string> inputs = {Synthetic(200000, 1), Synthetic(100001, 2), RandomBytes(65537, 3)};
  for (const char* path :
       {"/usr/riscv64-linux-gnu/lib/libc.so.6", "/usr/riscv64-linux-gnu/lib/libstdc++.so.6"})
    if (std::filesystem::exists(path)) inputs.push_back(ReadFile(path));
  for (const std::string& original : inputs) {
    const std::string expected = SevenZip(dir, original);
    ASSERT_FALSE(expected == original) << original.size();
    for (size_t piece : {size_t{1}, size_t{3}, size_t{8}, size_t{1000}, size_t{4096}, original.size()}) {
      EXPECT_TRUE(Convert(original, true, piece) == expected) << original.size() << " in " << piece;
      EXPECT_TRUE(Convert(expected, false, piece) == original) << original.size() << " in " << piece;
    }
  }

  // Short streams: instructions cut off at the end are left as they are.
  EXPECT_EQ(Convert("", false, 1), "");
  int changed = 0;
  for (size_t size = 1; size <= 17; ++size) {
    for (unsigned seed = 0; seed < 3; ++seed) {
      const std::string original = Synthetic(size, seed * 100 + static_cast<unsigned>(size));
      const std::string expected = SevenZip(dir, original);
      changed += expected != original;
      for (size_t piece : {size_t{1}, size_t{2}, size}) {
        EXPECT_TRUE(Convert(original, true, piece) == expected) << size << " seed " << seed;
        EXPECT_TRUE(Convert(expected, false, piece) == original) << size << " seed " << seed;
      }
    }
  }
  EXPECT_GT(changed, 5);
}

}  // namespace
}  // namespace tx::test
