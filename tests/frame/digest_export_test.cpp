// The eight digest exports: results, failure codes, and the progress window.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "test_support.h"
#include "tessarex.h"
#include "ui/dialogs.h"
#include "ui/scripted_dialogs.h"

namespace {

using tx::test::Hex;
using tx::test::TempDir;
using tx::test::WriteFile;
using DigestFunction = TessarexStatus (*)(void*, const char*, uint32_t, void*);

struct Export {
  const char* name;
  DigestFunction function;
  size_t size;
  uint32_t place;
  const char* empty_hex;  // result bytes for the empty file
  const char* abc_hex;    // result bytes for "abc"
};

// Published vectors; CRC values appear as the little-endian bytes the exports write.
const Export kExports[] = {
    {"crc32", file_crc32, 4, 0x41, "00000000", "c2412435"},
    {"crc64", file_crc64, 8, 0x42, "0000000000000000", "0297f4f93a818b04"},
    {"md5", file_md5, 16, 0x43, "d41d8cd98f00b204e9800998ecf8427e", "900150983cd24fb0d6963f7d28e17f72"},
    {"ripemd160", file_ripemd160, 20, 0x44, "9c1185a5c5e9fc54612808977ee8f548b2258d31",
     "8eb208f7e05d987a9b044a8e98c6b087f15a0bfc"},
    {"sha1", file_sha1, 20, 0x45, "da39a3ee5e6b4b0d3255bfef95601890afd80709",
     "a9993e364706816aba3e25717850c26c9cd0d89d"},
    {"sha256", file_sha256, 32, 0x46, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855",
     "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
    {"sha512", file_sha512, 64, 0x47,
     "cf83e1357eefb8bdf1542850d66d8007d620e4050b5715dc83f4a921d36ce9ce47d0d13c5d85f2b0ff8318d2877eec2f63b931bd4741"
     "7a81a538327af927da3e",
     "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23a3feebbd454d4423643c"
     "e80e2a9ac94fa54ca49f"},
    {"whirlpool", file_whirlpool, 64, 0x48,
     "19fa61d75522a4669b44e39c1d2e1726c530232130d407f89afee0964997f7a73e83be698b288febcf88e3e03c4f0757ea8964e59b63"
     "d93708b138cc42a66eb3",
     "4e2448a4c6f486bb16b6562c73b4020bf3043e3a731bce721ae1b303d97e6d4c7181eebdb6c57e277d0e34957114cbd6c797fc9d95d8"
     "b582d225292076d4eef5"},
};

class DigestExports : public ::testing::Test {
 protected:
  void SetUp() override { previous_ = tx::ui::InstallDialogs(&dialogs_); }
  void TearDown() override { tx::ui::InstallDialogs(previous_); }

  std::string Digest(const Export& e, const std::string& path, uint32_t flags, TessarexStatus* code) {
    unsigned char out[64];
    std::memset(out, 0xA5, sizeof out);
    *code = e.function(nullptr, path.c_str(), flags, out);
    return Hex(out, e.size);
  }

  TempDir dir_;
  tx::ui::ScriptedDialogs dialogs_;
  tx::ui::Dialogs* previous_ = nullptr;
};

TEST_F(DigestExports, PublishedVectorsForEmptyAndAbc) {
  WriteFile(dir_ / "empty", "");
  WriteFile(dir_ / "abc", "abc");
  WriteFile(dir_ / "digits", "123456789");
  for (const Export& e : kExports) {
    TessarexStatus code;
    EXPECT_EQ(Digest(e, dir_ / "empty", 0, &code), e.empty_hex) << e.name;
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(Digest(e, dir_ / "abc", 0, &code), e.abc_hex) << e.name;
    EXPECT_EQ(code, 0u);
  }
  TessarexStatus code;
  EXPECT_EQ(Digest(kExports[0], dir_ / "digits", 0, &code), "2639f4cb");
  EXPECT_EQ(Digest(kExports[1], dir_ / "digits", 0, &code), "0af0a4f1e359ec62");
}

TEST_F(DigestExports, Crc64MatchesABitwiseReferenceAcrossBlocks) {
  std::string data = tx::test::RandomBytes(2 * 65536 + 13, 7);
  for (size_t size : {size_t{1}, size_t{7}, size_t{65536}, size_t{65537}, data.size()}) {
    uint64_t reg = ~uint64_t{0};
    for (size_t i = 0; i < size; ++i) {
      reg ^= uint64_t{static_cast<unsigned char>(data[i])} << 56;
      for (int k = 0; k < 8; ++k) reg = (reg << 1) ^ ((reg >> 63) ? 0x42F0E1EBA9EA3693ull : 0);
    }
    reg = ~reg;
    WriteFile(dir_ / "a", data.substr(0, size));
    TessarexStatus code;
    EXPECT_EQ(Digest(kExports[1], dir_ / "a", 0, &code), Hex(&reg, 8)) << size;
  }
}

TEST_F(DigestExports, ArgumentAndFileFailuresLeaveTheBufferAlone) {
  std::string too_long(1024, 'x');
  // A path of exactly 1023 units, made of components the file system accepts.
  std::string longest = dir_.path().string();
  while (longest.size() + 201 < 1023) {
    longest.append("/").append(200, 'd');
    std::filesystem::create_directory(longest);
  }
  const size_t last = 1023 - longest.size() - 1;
  longest.append("/").append(last, 'f');
  ASSERT_EQ(longest.size(), 1023u);
  WriteFile(longest, "abc");
  for (const Export& e : kExports) {
    TessarexStatus code;
    std::string untouched(e.size * 2, 'a');
    for (size_t i = 1; i < untouched.size(); i += 2) untouched[i] = '5';
    unsigned char out[64];
    std::memset(out, 0xA5, sizeof out);
    EXPECT_EQ(e.function(nullptr, nullptr, 0, out), 0x00013201u);
    EXPECT_EQ(Digest(e, "", 0, &code), untouched);
    EXPECT_EQ(code, 0x00013202u);
    EXPECT_EQ(Digest(e, too_long, 0, &code), untouched);
    EXPECT_EQ(code, 0x01203201u);
    EXPECT_EQ(Digest(e, "bad\xff" "utf8", 0, &code), untouched);
    EXPECT_EQ(code, 0x01203201u);
    EXPECT_EQ(Digest(e, dir_.path().string(), 0, &code), untouched) << "a directory is not a file";
    EXPECT_EQ(code, 0x01020001u | (e.place << 8));
    EXPECT_EQ(Digest(e, dir_ / "missing", 0, &code), untouched);
    EXPECT_EQ(code, 0x01020001u | (e.place << 8));
    EXPECT_EQ(Digest(e, longest, 0, &code), e.abc_hex) << "1023 units still convert";
  }
}

TEST_F(DigestExports, ProgressWindowShowsReadingAndThePercent) {
  WriteFile(dir_ / "f", std::string(65537, 'z'));
  TessarexStatus code;
  Digest(kExports[5], dir_ / "f", TESSAREX_FLAG_PROGRESS, &code);
  ASSERT_EQ(code, 0u);
  const auto& r = dialogs_.record();
  EXPECT_EQ(r.opened, 1u);
  EXPECT_EQ(r.closed, 1u);
  using F = tx::ui::ProgressField;
  EXPECT_EQ(r.shown.at(F::Status), "Reading...");
  EXPECT_EQ(r.shown.at(F::ArchiveLabel), "");
  EXPECT_EQ(r.shown.at(F::BaseLabel), "");
  EXPECT_EQ(r.shown.at(F::Working), dir_ / "f");
  // 1 x 100 / 65537 truncates to 0, so the first block already shows 100 percent.
  EXPECT_EQ(r.captions, (std::vector<std::string>{"Progress    0%", "Progress  100%"}));
  EXPECT_EQ(r.turns, 3u);  // open, then one update per block
}

TEST_F(DigestExports, CancelCodesAndNoWindowWithoutTheFlag) {
  WriteFile(dir_ / "f", std::string(65537, 'z'));
  for (const Export& e : kExports) {
    std::string untouched;
    TessarexStatus code;
    {
      tx::ui::ScriptedDialogs d;
      tx::ui::InstallDialogs(&d);
      d.PressAt(3, tx::ui::ProgressEvent::Cancel);  // at the update after the last block
      std::string before = Digest(e, dir_ / "f", TESSAREX_FLAG_PROGRESS, &code);
      EXPECT_EQ(code, 0x00900002u | (e.place << 8)) << e.name;
      EXPECT_EQ(before.find_first_not_of("a5"), std::string::npos) << "result written after a cancel";
      EXPECT_EQ(d.record().closed, 1u);

      d.PressAt(d.record().turns + 1, tx::ui::ProgressEvent::Cancel);  // at once, in the open
      Digest(e, dir_ / "f", TESSAREX_FLAG_PROGRESS, &code);
      EXPECT_EQ(code, 0x00900001u | (e.place << 8));

      d.FailNextOpen();
      Digest(e, dir_ / "f", TESSAREX_FLAG_PROGRESS, &code);
      EXPECT_EQ(code, 0x00900001u | (e.place << 8));

      unsigned opened = d.record().opened;
      d.PressAt(d.record().turns + 1, tx::ui::ProgressEvent::Cancel);
      Digest(e, dir_ / "f", TESSAREX_FLAG_ASK_OVERWRITE | TESSAREX_FLAG_ASK_PASSWORD, &code);
      EXPECT_EQ(code, 0u) << "only bit 0 opens the window";
      EXPECT_EQ(d.record().opened, opened);
      tx::ui::InstallDialogs(&dialogs_);
    }
  }
}

TEST_F(DigestExports, PauseHoldsTheCallUntilResume) {
  WriteFile(dir_ / "f", std::string(3 * 65536, 'q'));
  dialogs_.PressAt(2, tx::ui::ProgressEvent::Pause);
  dialogs_.PressAt(5, tx::ui::ProgressEvent::Pause);
  TessarexStatus code;
  std::string paused = Digest(kExports[0], dir_ / "f", TESSAREX_FLAG_PROGRESS, &code);
  ASSERT_EQ(code, 0u);
  EXPECT_EQ(dialogs_.record().waits, (std::vector<unsigned>{330, 330, 330}));
  EXPECT_EQ(dialogs_.record().shown.at(tx::ui::ProgressField::PauseButton), "Pause");
  EXPECT_EQ(paused, Digest(kExports[0], dir_ / "f", 0, &code));

  // Cancel while paused ends the call at once.
  tx::ui::ScriptedDialogs d;
  tx::ui::InstallDialogs(&d);
  d.PressAt(2, tx::ui::ProgressEvent::Pause);
  d.PressAt(4, tx::ui::ProgressEvent::Cancel);
  Digest(kExports[0], dir_ / "f", TESSAREX_FLAG_PROGRESS, &code);
  EXPECT_EQ(code, 0x00904102u);
  EXPECT_EQ(d.record().waits.size(), 2u);
  EXPECT_EQ(d.record().shown.at(tx::ui::ProgressField::PauseButton), "Resume");
  tx::ui::InstallDialogs(&dialogs_);
}

}  // namespace
