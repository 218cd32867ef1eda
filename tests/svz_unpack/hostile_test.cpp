// Archives made to hurt the reader: dangerous names, sizes and counts that do not fit,
// demands on the key derivation and the decoder, and every truncation and bit flip of a
// small archive. All give codes; nothing is written outside the output folder.
#include "svz_test.h"

namespace tx::test {
namespace {

using Hostile = SvzScratch;

// `from` replaced once inside the archive's plain header, CRCs fixed.
std::string Patch(std::string archive, const std::string& from, const std::string& to) {
  size_t at = archive.rfind(from);
  EXPECT_NE(at, std::string::npos);
  if (at == std::string::npos) return archive;
  archive.replace(at, from.size(), to);
  FixCrcs(archive);
  return archive;
}

// Nothing but the output folder (and the archives) may appear in the scratch folder.
void ExpectOnlyInside(const fs::path& scratch) {
  for (const auto& e : fs::directory_iterator(scratch)) {
    std::string name = e.path().filename().string();
    EXPECT_TRUE(name.rfind("out", 0) == 0 || name.rfind("made", 0) == 0 || name.rfind("peer", 0) == 0 ||
                name.rfind("own", 0) == 0 || name == "src")
        << name;
  }
}

TEST_F(Hostile, DangerousNamesAreRefusedBeforeAnythingIsWritten) {
  Source({{"aaaaa", "payload"}, {"zzzzz", "first"}});
  std::string archive = ReadFile(SevenZip("-m0=Copy -mhc=off -ms=off"));
  struct Case {
    std::string name;
    uint32_t code;
  } cases[] = {{"../aa", 0x00103102u},
               {"/aaaa", 0x00103105u},
               {"a\\aaa", 0x00103101u},
               {"aa/..", 0x00103102u},
               {"a//aa", 0x00103104u}};
  for (const Case& c : cases) {
    std::string bad = Save(Patch(archive, Utf16("aaaaa"), Utf16(c.name)));
    std::string out = Out();
    EXPECT_EQ(Unpack(3, bad, out), c.code) << c.name;
    EXPECT_EQ(Unpack(2, bad, out), c.code) << c.name;
    std::string text;
    EXPECT_EQ(List(bad, text), c.code) << c.name;
    EXPECT_TRUE(fs::is_empty(out)) << c.name;
  }
  // A slash is a folder below the output folder; unpack1 takes no path at all.
  std::string nested = Save(Patch(archive, Utf16("aaaaa"), Utf16("a/aaa")));
  std::string out = Out();
  EXPECT_EQ(Unpack(3, nested, out), 0u);
  EXPECT_EQ(ReadFile(out + "/a/aaa"), "payload");
  Source({{"aaaaa", "payload"}});
  std::string single = Save(Patch(ReadFile(SevenZip("-m0=Copy -mhc=off")), Utf16("aaaaa"), Utf16("a/aaa")));
  EXPECT_EQ(Unpack(1, single, Out()), 0x00103101u);
  ExpectOnlyInside(dir.path());
}

TEST_F(Hostile, SizesAndCountsThatDoNotFit) {
  Source({{"aaaaa", "0123456789"}, {"bbbbb", "abcdefghij"}});
  std::string solid = ReadFile(SevenZip("-m0=LZMA -mhc=off -ms=on"));
  std::string copy = ReadFile(SevenZip("-m0=Copy -mhc=off"));
  // The substream size of the first file (10) made larger than the folder (20).
  std::string bigger = Patch(solid, std::string("\x0d\x02\x09\x0a", 4), std::string("\x0d\x02\x09\x40", 4));
  EXPECT_NE(Unpack(3, Save(bigger), Out()), 0u);
  std::string text;
  EXPECT_NE(List(Save(bigger), text), 0u);
  // Next header pointing past the end, and far past (overflowing).
  std::string past = solid;
  past[12] = '\x7f';
  Store32(past, 8, Crc(past, 12, 20));
  EXPECT_EQ(Unpack(3, Save(past), Out()), 0x00740000u);
  for (int i = 12; i < 20; ++i) past[i] = '\xff';
  Store32(past, 8, Crc(past, 12, 20));
  EXPECT_EQ(Unpack(3, Save(past), Out()), 0x00740000u);
  // A pack size beyond the header that follows the data.
  std::string pack =
      Patch(copy, std::string("\x06\x00\x02\x09\x0a\x0a", 6), std::string("\x06\x00\x02\x09\x0a\x7f", 6));
  EXPECT_EQ(Unpack(3, Save(pack), Out()), 0x00740002u);
  EXPECT_EQ(List(Save(pack), text), 0x00740002u);
  // 2^32 files, and 2^60: refused from the header's size, with nothing allocated for them.
  std::string header = "\x01\x05\xf1\x00\x00\x00\x00\x00\x00";
  header = std::string(header.data(), 9);
  std::string many = std::string(32, '\0') + header;
  for (int i = 0; i < 6; ++i) many[i] = "\x37\x7a\xbc\xaf\x27\x1c"[i];
  many[7] = 4;
  FixCrcs(many);
  EXPECT_NE(Unpack(3, Save(many), Out()), 0u);
  many.replace(32 + 2, 9, std::string("\xff\x00\x00\x00\x00\x00\x00\x00\x10", 9));
  many.resize(32 + 11);
  FixCrcs(many);
  EXPECT_NE(List(Save(many), text), 0u);
}

TEST_F(Hostile, KeyDerivationAndDictionaryDemandsAreBounded) {
  Source({{"aaaaa", "secret data"}});
  std::string archive = ReadFile(SevenZip("-m0=Copy -mhc=off -pPW"));
  size_t at = archive.rfind(std::string("\x06\xf1\x07\x01", 4));
  ASSERT_NE(at, std::string::npos);
  std::string slow = archive;
  slow[at + 5] = static_cast<char>((slow[at + 5] & 0xC0) | 31);
  FixCrcs(slow);
  EXPECT_EQ(Unpack(3, Save(slow), Out(), "PW"), 0x00451703u);
  slow[at + 5] = static_cast<char>((slow[at + 5] & 0xC0) | 63);
  FixCrcs(slow);
  EXPECT_EQ(Unpack(3, Save(slow), Out(), "PW"), 0x00771411u);

  std::string lzma = ReadFile(SevenZip("-m0=LZMA -mhc=off"));
  at = lzma.rfind(std::string("\x03\x01\x01\x05", 4));
  ASSERT_NE(at, std::string::npos);
  Store32(lzma, at + 5, 0x80000000u);  // a 2 GiB dictionary
  FixCrcs(lzma);
  std::string out = Out();
  EXPECT_EQ(Unpack(3, Save(lzma), out), 0x00300032u);
  EXPECT_TRUE(fs::is_empty(out));
}

// Every truncation and every single-bit flip of small archives: a code or a correct
// result, never a crash, a hang or a file outside the output folder.
TEST_F(Hostile, EveryTruncationAndBitFlip) {
  Source({{"a.txt", "some text, some text"},
          {"b", "bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb"},
          {"e", ""},
          {"d/", ""}});
  for (bool encrypted : {false, true}) {
    const std::string archive =
        ReadFile(encrypted ? OwnEncrypted("PW") : SevenZip("-m0=LZMA -ms=on -mhc=off"));
    std::string path = Save(archive);
    std::string out = Out(), text;
    auto run = [&](const std::string& bytes) {
      WriteFile(path, bytes);
      Unpack(3, path, out, "PW");
      List(path, text, "PW");
      if (!fs::is_empty(out)) {
        fs::remove_all(out);
        fs::create_directories(out);
      }
    };
    for (size_t n = 0; n < archive.size(); ++n) run(archive.substr(0, n));
    const size_t header = 32 + Load64(archive, 12);
    for (size_t i = 0; i < archive.size(); ++i)
      for (int bit = 0; bit < 8; ++bit) {
        std::string flipped = archive;
        flipped[i] = static_cast<char>(flipped[i] ^ (1 << bit));
        // Outside the header one bit per byte is enough: the data's checks are all it meets.
        if (i < header && bit == static_cast<int>(i % 8)) run(flipped);
        // In the header, every bit, with the CRCs made right so the parser meets it.
        if (i >= header) {
          run(flipped);
          FixCrcs(flipped);
          run(flipped);
        }
      }
    ExpectOnlyInside(dir.path());
  }
}

}  // namespace
}  // namespace tx::test
