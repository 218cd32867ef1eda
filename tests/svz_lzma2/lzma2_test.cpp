// 7-Zip's default archives (LZMA2, BCJ for executables) and its filters come out
// byte-identical; the methods without a decoder here are refused per entry and listed;
// damaged LZMA2 streams and hostile properties give codes.
#include "codec/block.h"
#include "svz/svz_decode.h"
#include "svz/svz_header.h"
#include "svz_unpack/svz_test.h"

namespace tx::test {
namespace {

// Text, random bytes, an x86-64 shared library (7-Zip puts BCJ in front of it), an
// executable script and an empty folder.
std::map<std::string, std::string> Files() {
  std::string text;
  for (int i = 0; i < 20000; ++i) text += "line " + std::to_string(i * 7919 % 1000) + " of some text\n";
  std::string samples;  // 16-bit audio-like data for Delta
  for (int i = 0; i < 40000; ++i) samples += static_cast<char>(i * 3), samples += static_cast<char>(i >> 6);
  return {{"text.txt", text},
          {"random.bin", RandomBytes(70000, 1)},
          {"samples.raw", samples},
          {"lib/libz.so.1", ReadFile(fs::canonical("/usr/lib/x86_64-linux-gnu/libz.so.1"))},
          {"run.sh", "#!/bin/sh\necho hello\n"},
          {"dir/emptydir/", ""},
          {"empty", ""}};
}

using Lzma2 = SvzScratch;

TEST_F(Lzma2, SevenZipDefaultsComeOutByteIdentical) {
  Source(Files());
  struct Case {
    std::string switches;
    const char* password;
  } cases[] = {{"", nullptr},           {"-mx=1", nullptr},
               {"-mhe=on -psecret", "secret"}, {"-mhc=off", nullptr},
               {"-ms=off", nullptr},           {"-mtc=on -mta=on", nullptr},
               {"-mx=9", nullptr},             {"-mx=9 -ms=off -mhe=on -psecret", "secret"}};
  const auto expected = Tree(dir / "src");
  for (const Case& c : cases) {
    std::string archive = SevenZip(c.switches);
    std::string out = Out();
    EXPECT_EQ(Unpack(3, archive, out, c.password), 0u) << c.switches;
    EXPECT_TRUE(Tree(out) == expected) << c.switches;
    std::string text;
    EXPECT_EQ(List(archive, text, c.password), 0u) << c.switches;
    EXPECT_NE(text.find(" LZMA2:"), std::string::npos) << text;
    // From level 7 on 7-Zip puts BCJ2 in front of executables.
    const char* filter = c.switches.find("-mx=9") == 0 ? "BCJ2 LZMA2:" : "BCJ LZMA2:";
    EXPECT_NE(text.find(filter), std::string::npos) << text;
  }
}

TEST_F(Lzma2, FiltersBehindEveryMethodComeOutByteIdentical) {
  Source(Files());
  const auto expected = Tree(dir / "src");
  struct Case {
    std::string switches, name;
  } cases[] = {{"-mf=ARM64", "ARM64 LZMA2:"},
               {"-mf=Delta:4", "Delta:4 LZMA2:"},
               {"-mf=ARM", "ARM LZMA2:"},
               {"-mf=ARMT", "ARMT LZMA2:"},
               {"-mf=PPC", "PPC LZMA2:"},
               {"-mf=IA64", "IA64 LZMA2:"},
               {"-mf=SPARC", "SPARC LZMA2:"},
               {"-mf=RISCV", "RISCV LZMA2:"},
               {"-m0=RISCV -m1=Deflate", "RISCV Deflate "},
               {"-m0=BCJ -m1=Copy", "BCJ Copy "},
               {"-m0=ARM64 -m1=Copy", "ARM64 Copy "},
               {"-m0=Delta:4 -m1=Deflate", "Delta:4 Deflate "},
               {"-m0=IA64 -m1=BZip2 -ms=off", "IA64 BZip2 "},
               {"-m0=LZMA -mf=ARM64", "ARM64 LZMA "},
               {"-m0=LZMA -mf=Delta:2 -ms=off", "Delta:2 LZMA "},
               {"-m0=LZMA -mf=SPARC -mhe=on -pk", "SPARC LZMA "}};
  for (const Case& c : cases) {
    const char* password = c.switches.find("-pk") != std::string::npos ? "k" : nullptr;
    std::string archive = SevenZip(c.switches);
    std::string out = Out();
    EXPECT_EQ(Unpack(3, archive, out, password), 0u) << c.switches;
    EXPECT_TRUE(Tree(out) == expected) << c.switches;
    std::string text;
    EXPECT_EQ(List(archive, text, password), 0u) << c.switches;
    EXPECT_NE(text.find(c.name), std::string::npos) << c.switches << "\n" << text;
  }
}

TEST_F(Lzma2, MethodsWithoutDecoderAreRefusedPerEntryAndListed) {
  Source({{"a.txt", "some text, some text, some text"}, {"e", ""}});
  struct Case {
    std::string switches, name;
  } cases[] = {{"-m0=PPMd", " PPMd "},
               {"-m0=Deflate64", " Deflate64 "},
               {"-m0=BCJ2 -m1=PPMd -m2=LZMA -m3=LZMA -mb0s0:1 -mb0s1:2 -mb0s2:3", "BCJ2 PPMd "}};
  for (const Case& c : cases) {
    std::string archive = SevenZip(c.switches);
    std::string out = Out();
    EXPECT_EQ(Unpack(3, archive, out), 0x00330000u) << c.switches;
    EXPECT_FALSE(fs::exists(out + "/a.txt")) << c.switches;
    std::string text;
    EXPECT_EQ(List(archive, text), 0u) << c.switches;
    EXPECT_NE(text.find(c.name), std::string::npos) << c.switches << "\n" << text;
  }
}

// The two-byte 7z number at `at` (0x80 to 0x3FFF) replaced by `value`.
void PatchNumber(std::string& a, size_t at, uint32_t value) {
  a[at] = static_cast<char>(0x80 | value >> 8);
  a[at + 1] = static_cast<char>(value & 0xFF);
}
uint32_t NumberAt(const std::string& a, size_t at) {
  return (static_cast<uint8_t>(a[at]) & 0x3Fu) << 8 | static_cast<uint8_t>(a[at + 1]);
}

TEST_F(Lzma2, DamagedStreamsAndHostilePropertiesGiveCodes) {
  // One file of 3000 bytes in a plain header: its folder's sizes are easy to find.
  std::string data = RandomBytes(1500, 7) + std::string(1500, 'z');
  Source({{"f.bin", data}});
  const std::string good = ReadFile(SevenZip("-mhc=off"));
  const size_t next = 32 + static_cast<size_t>(Load64(good, 12));
  const size_t coder = good.find(std::string("\x21\x21\x01", 3), next);   // LZMA2, one property byte
  const size_t unpack = good.find(std::string("\x0C\x8B\xB8", 3), next);  // the folder's size, 3000
  const size_t pack = good.find(std::string("\x06\x00\x01\x09", 4), next) + 4;
  ASSERT_NE(coder, std::string::npos);
  ASSERT_NE(unpack, std::string::npos);
  const uint32_t packed = NumberAt(good, pack);
  auto refused = [&](std::string archive, const char* what) {
    FixCrcs(archive);
    std::string out = Out();
    uint32_t code = Unpack(3, Save(archive), out);
    EXPECT_NE(code, 0u) << what;
    EXPECT_FALSE(fs::exists(out + "/f.bin")) << what;
    return code;
  };
  std::string out = Out();
  ASSERT_EQ(Unpack(3, Save(good), out), 0u);
  EXPECT_EQ(ReadFile(out + "/f.bin"), data);

  std::string a = good;
  PatchNumber(a, unpack + 1, 2999);                           // the stream runs past its size
  const uint32_t shorter = refused(a, "shorter size") >> 16;  // the file's CRC may fail first
  EXPECT_TRUE(shorter == 0x31u || shorter == 0x61u) << shorter;
  a = good;
  PatchNumber(a, unpack + 1, 3001);  // the stream ends early
  EXPECT_EQ(refused(a, "longer size") >> 16, 0x31u);
  a = good;
  PatchNumber(a, pack, packed - 5);  // the stream is cut short
  EXPECT_EQ(refused(a, "cut stream") >> 16, 0x31u);
  a = good;
  a[coder + 3] = 40;  // a 4 GiB dictionary: more memory than the limit
  EXPECT_EQ(refused(a, "dictionary"), 0x00300052u);
  a = good;
  a[coder + 3] = 41;  // no such dictionary
  EXPECT_EQ(refused(a, "bad property"), 0x00300051u);
}

TEST_F(Lzma2, DeltaDistancesOutOfRangeAreRefused) {
  using namespace tx::svz;
  // Delta (properties of two bytes, or none) in front of LZMA2: a chain of two coders.
  for (Bytes record : {Bytes{0x02, 0x21, 0x03, 0x02, 0x03, 0x00, 0x21, 0x21, 0x01, 0x18, 0x00, 0x01},
                       Bytes{0x02, 0x01, 0x03, 0x21, 0x21, 0x01, 0x18, 0x00, 0x01}}) {
    Cursor cursor(record.data(), record.size());
    FolderInfo f;
    ASSERT_EQ(ParseCoders(cursor, f.coder, f.layout), kOk);
    EXPECT_TRUE(f.layout.linear);
    EXPECT_EQ(CheckDecodable(f, ArchiveIndex{}), 0x00300055u);
  }
  Bytes good = {0x02, 0x21, 0x03, 0x01, 0xFF, 0x21, 0x21, 0x01, 0x18, 0x00, 0x01};
  Cursor cursor(good.data(), good.size());
  FolderInfo f;
  ASSERT_EQ(ParseCoders(cursor, f.coder, f.layout), kOk);
  EXPECT_EQ(f.coder.delta_distance, 256u);
  EXPECT_EQ(CheckDecodable(f, ArchiveIndex{}), kOk);
  // Two filters in a row stay refused.
  Bytes two = {0x03, 0x21, 0x03, 0x01, 0x03, 0x01, 0x0A, 0x21, 0x21, 0x01, 0x18, 0x00, 0x01, 0x01, 0x02};
  Cursor c2(two.data(), two.size());
  ASSERT_EQ(ParseCoders(c2, f.coder, f.layout), kOk);
  EXPECT_EQ(CheckDecodable(f, ArchiveIndex{}), 0x00330000u);
}

TEST_F(Lzma2, BlocksDecodeExactlyOrFail) {
  // A raw LZMA2 stream from xz, dictionary 1 MiB (property byte 16).
  std::string plain;
  for (int i = 0; i < 5000; ++i) plain += "header line " + std::to_string(i % 97) + "\n";
  WriteFile(dir / "plain", plain);
  int status = 0;
  Shell("xz --format=raw --lzma2=dict=1MiB -c " + Quote(dir / "plain") + " > " + Quote(dir / "raw"), &status);
  ASSERT_EQ(status, 0);
  const std::string raw = ReadFile(dir / "raw");
  const uint8_t property = 16;
  auto decode = [&](const std::string& in, size_t expected, std::unique_ptr<uint8_t[]>& out) {
    return codec::DecompressBlock(codec::Method::kLzma2, &property, 1,
                                  reinterpret_cast<const uint8_t*>(in.data()), in.size(), expected, out);
  };
  std::unique_ptr<uint8_t[]> out;
  ASSERT_EQ(decode(raw, plain.size(), out), codec::Outcome::kOk);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out.get()), plain.size()), plain);
  EXPECT_EQ(decode(raw, plain.size() - 1, out), codec::Outcome::kDamaged);
  EXPECT_EQ(decode(raw, plain.size() + 1, out), codec::Outcome::kDamaged);
  EXPECT_EQ(decode(raw.substr(0, raw.size() - 1), plain.size(), out), codec::Outcome::kDamaged);
  EXPECT_EQ(decode(raw.substr(0, raw.size() / 2), plain.size(), out), codec::Outcome::kDamaged);
  EXPECT_EQ(decode(raw + "x", plain.size(), out), codec::Outcome::kDamaged);
}

}  // namespace
}  // namespace tx::test
