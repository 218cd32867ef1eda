// Extraction rules: one-member archives, passwords and prompts, damaged members with the
// offer to go on, overwriting, filters, folders, refused ciphers, and our own archives.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "zip_test.h"

namespace tx::test {
namespace {

namespace fs = std::filesystem;

using Unpack = ZipScratch;

TEST_F(Unpack, OneMemberArchives) {
  Member file{.name = "file.txt", .data = "hello, one member", .method = 8, .attributes = 0x21};
  std::string out = Out();
  ASSERT_EQ(Unpack1(Archive({file}), out), 0u);
  EXPECT_EQ(ReadFile(out + "/file.txt"), file.data);
  struct stat st;
  ::stat((out + "/file.txt").c_str(), &st);
  struct tm local = {};
  time_t mtime = st.st_mtime;
  localtime_r(&mtime, &local);
  EXPECT_EQ(local.tm_year + 1900, 2023);
  EXPECT_EQ(local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec, 12 * 3600 + 34 * 60 + 48);
  EXPECT_EQ(st.st_mode & 0222, 0u) << "read-only attribute";

  EXPECT_EQ(Unpack1(Archive({file, {.name = "second", .data = "x"}}), Out()), 0x00600001u);
  EXPECT_EQ(Unpack1(Archive({{.name = "folder/"}}), Out()), 0x00120000u);
  EXPECT_EQ(Unpack1(Archive({file}), Out(), nullptr, 0, 1), 0x00400000u);
  EXPECT_EQ(Unpack1(Archive({}), out = Out()), 0u);
  EXPECT_EQ(Unpack2(Archive({}), out), 0u);
  EXPECT_TRUE(fs::is_empty(out));
}

TEST_F(Unpack, WinZipAesPasswordsAndPrompt) {
  Member ae1{
      .name = "one", .data = std::string(70000, 'a') + "tail", .method = 8, .aes = 1, .password = "pw"};
  Member ae2{.name = "two", .data = "short", .aes = 2, .key_length = 16, .password = "pw"};
  std::string archive = Archive({ae1, ae2});
  std::string out = Out();
  EXPECT_EQ(Unpack2(archive, out, "wrong"), 0x00411901u);
  EXPECT_TRUE(fs::is_empty(out));
  EXPECT_EQ(Unpack2(archive, out, "pw", 0, nullptr, 1), 0u);
  EXPECT_EQ(ReadFile(out + "/one"), ae1.data);
  EXPECT_EQ(ReadFile(out + "/two"), ae2.data);

  // Asked once per call; the answer serves every member.
  ScriptedUi ui;
  ui.dialogs.AnswerPassword("pw");
  EXPECT_EQ(Unpack2(archive, Out(), nullptr, TESSAREX_FLAG_ASK_PASSWORD), 0u);
  EXPECT_EQ(ui.dialogs.record().password_prompts, 1u);
  ui.dialogs.CancelPassword();
  EXPECT_EQ(Unpack2(archive, Out(), nullptr, TESSAREX_FLAG_ASK_PASSWORD), 0x00901901u);

  // A damaged code is found after the data: the file does not stay.
  std::string bytes = BuildZip({ae2});
  size_t code_at = bytes.find("two") + 3 + 8 + 2 + 5;
  bytes[code_at] ^= 1;
  WriteFile(dir_ / "badmac.zip", bytes);
  EXPECT_EQ(Unpack2(dir_ / "badmac.zip", out = Out(), "pw"), 0x00421901u);
  EXPECT_TRUE(fs::is_empty(out));
}

TEST_F(Unpack, DamagedMembersAndTheOfferToGoOn) {
  Member bad{.name = "bad.txt", .data = "content", .crc = 0x12345678};
  Member unknown{.name = "ppmd.bin", .data = "xx", .method = 98};
  Member good{.name = "good.txt", .data = "fine", .method = 8};
  std::string archive = Archive({bad, unknown, good});
  std::string out = Out();
  EXPECT_EQ(Unpack2(archive, out), 0x00611901u);
  EXPECT_TRUE(fs::is_empty(out));

  ScriptedUi ui;
  ui.dialogs.AnswerNotice(1);
  ui.dialogs.AnswerNotice(1);
  EXPECT_EQ(Unpack2(archive, out, nullptr, TESSAREX_FLAG_ASK_ON_ERROR), 0u);
  EXPECT_EQ(Tree(out), (std::map<std::string, std::string>{{"good.txt", "fine"}}));
  ASSERT_EQ(ui.dialogs.record().notices.size(), 2u);
  EXPECT_NE(ui.dialogs.record().notices[0].path.find("bad.txt"), std::string::npos);

  ui.dialogs.AnswerNotice(2);
  EXPECT_EQ(Unpack2(archive, Out(), nullptr, TESSAREX_FLAG_ASK_ON_ERROR), 0x00611901u);
  // Classes outside the list end the call without a question.
  Member outside{.name = "far", .data = "x", .offset = 1u << 20};
  EXPECT_EQ(Unpack2(Archive({outside, good}), Out(), nullptr, TESSAREX_FLAG_ASK_ON_ERROR), 0x01031201u);
}

TEST_F(Unpack, StrongEncryptionRefusesAnImpossibleIvSizeAndAnUnknownCipher) {
  std::string strong_field;
  Put16(strong_field, 0x0017), Put16(strong_field, 12), Put16(strong_field, 2), Put16(strong_field, 0x660E);
  Put16(strong_field, 128), Put16(strong_field, 1), Put32(strong_field, 0);
  Member strong{.name = "s.bin", .data = std::string(200, 's'), .flags = 0x41, .central_extra = strong_field};
  std::string archive = Archive({strong});
  std::string out = Out();
  // The data starts "ss": an IV size of 0x7373.
  EXPECT_EQ(Unpack2(archive, out, "pw"), 0x00441301u);
  EXPECT_EQ(Unpack1(archive, out, "pw"), 0x00441301u);
  std::string des = strong_field;
  des[6] = 0x01;  // single DES: not a cipher this library knows
  Member unknown = strong;
  unknown.central_extra = des;
  EXPECT_EQ(Unpack2(Archive({unknown}), out, "pw"), 0x00441901u);
  EXPECT_TRUE(fs::is_empty(out));
  // Demanding encryption: strong members count only with an encrypted directory.
  EXPECT_EQ(Unpack2(archive, out, "pw", 0, nullptr, 1), 0x00400000u);
  std::string text;
  ASSERT_EQ(List(archive, text), 0u);
  EXPECT_NE(text.find("Store   AES-128 P    "), std::string::npos) << text;
}

TEST_F(Unpack, OverwriteFilterAndFolders) {
  std::string archive = Archive({{.name = "docs/"},
                                 {.name = "docs/a.txt", .data = "new a"},
                                 {.name = "docs/deep/b.log", .data = "new b", .method = 8},
                                 {.name = "c.txt", .data = "new c"}});
  std::string out = Out();
  WriteFile(out + "/c.txt", "old c");
  ScriptedUi ui;
  ui.dialogs.AnswerOverwrite(2);  // skip c.txt
  ASSERT_EQ(Unpack2(archive, out, nullptr, TESSAREX_FLAG_ASK_OVERWRITE), 0u);
  EXPECT_EQ(Tree(out), (std::map<std::string, std::string>{{"c.txt", "old c"},
                                                           {"docs/", ""},
                                                           {"docs/a.txt", "new a"},
                                                           {"docs/deep/", ""},
                                                           {"docs/deep/b.log", "new b"}}));
  ui.dialogs.AnswerOverwrite(5);  // overwrite all: no second question
  ASSERT_EQ(Unpack2(archive, out, nullptr, TESSAREX_FLAG_ASK_OVERWRITE), 0u);
  EXPECT_EQ(ui.dialogs.record().overwrite_questions.size(), 2u);
  EXPECT_EQ(ReadFile(out + "/c.txt"), "new c");
  ui.dialogs.AnswerOverwrite(3);
  EXPECT_EQ(Unpack2(archive, out, nullptr, TESSAREX_FLAG_ASK_OVERWRITE), 0x00900004u);

  std::string filtered = Out();
  ASSERT_EQ(Unpack2(archive, filtered, nullptr, 0, "*.LOG"), 0u);
  EXPECT_EQ(Tree(filtered), (std::map<std::string, std::string>{
                                {"docs/", ""}, {"docs/deep/", ""}, {"docs/deep/b.log", "new b"}}));
}

// Our own packer's archives: Deflate and BZip2, AE-2 with every key length, NTFS times,
// UTF-8 names and a compressed central directory.
TEST_F(Unpack, ArchivesOfOurPacker) {
  std::string src = dir_ / "src";
  fs::create_directories(src + "/sub");
  WriteFile(src + "/big.bin", RandomBytes(150000, 3) + std::string(100000, 'z'));
  WriteFile(src + "/sub/Grüße.txt", "umlauts");
  WriteFile(src + "/empty", "");
  for (uint32_t method : {8u, 12u}) {
    for (uint32_t key : {16u, 24u, 32u}) {
      std::string archive = dir_ / ("p" + std::to_string(method) + "_" + std::to_string(key) + ".zip");
      uint32_t options[15] = {0, 0, method, 9, 1, 2, key, 16, 16, 1, 0, 0, 1, 1, 0};
      ASSERT_EQ(zip_pack2(nullptr, archive.c_str(), (src + "/*").c_str(), "pw", options), 0u);
      std::string out = Out();
      ASSERT_EQ(Unpack2(archive, out, "pw", 0, nullptr, 1), 0u);
      EXPECT_EQ(Tree(out), Tree(src));
      std::string text;
      ASSERT_EQ(List(archive, text), 0u);
      EXPECT_NE(
          text.find(method == 8 ? "Header  : Compress (Deflate)\r\n" : "Header  : Compress (BZip2)\r\n"),
          std::string::npos)
          << text;
      EXPECT_NE(text.find(std::string("AE-2 ") + (key == 16   ? "128"
                                                  : key == 24 ? "192"
                                                              : "256")),
                std::string::npos);
    }
  }
}

}  // namespace
}  // namespace tx::test
