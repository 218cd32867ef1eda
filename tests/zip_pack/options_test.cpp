// Option words, sources refused, the dialogs of a packing call; no failure leaves an archive.
#include "zip_pack_test.h"

namespace tx::test {
namespace {

class ZipPackCall : public ::testing::Test {
 protected:
  void SetUp() override { WriteFile(dir / "a.txt", Mixed(5 * 65536 + 17, 1)); }
  uint32_t Pack1(const Words& w, const char* password = nullptr, std::string source = "a.txt") {
    return zip_pack1(nullptr, archive.c_str(), (dir / source).c_str(), password, w.data());
  }
  uint32_t Pack2(const Words& w, const char* password = nullptr, std::string source = "*.txt") {
    return zip_pack2(nullptr, archive.c_str(), (dir / source).c_str(), password, w.data());
  }
  TempDir dir;
  std::string archive = dir / "out.zip";
};

TEST_F(ZipPackCall, OptionWordsAndSources) {
  // word, value, code; each alone on valid words, then in pairs where the first decides.
  const uint32_t cases[][3] = {{2, 1, 0x20002},  {3, 0, 0x20003},  {3, 10, 0x20003}, {4, 4, 0x20004},
                               {5, 4, 0x20005},  {5, 10, 0x20005}, {5, 13, 0x20005}, {0, 1, 0x400002},
                               {10, 1, 0x2000b}, {10, 4, 0x2000a}};
  for (auto [word, value, code] : cases) {
    Words w = Pack();
    w[word] = value;
    EXPECT_EQ(Pack1(w), code) << word << " " << value;
    EXPECT_EQ(Pack2(w), code) << word << " " << value;
    w[10] = 2;  // signing is checked last
    w[word] = value;
    EXPECT_EQ(Pack1(w), code) << word << " " << value;
  }
  Words w = {1, 0, 8, 6, 0, 4};
  EXPECT_EQ(Pack1(w), 0x20005u);  // the kind before demanded encryption
  // Words that only strong encryption and signing read are left alone without them.
  w = {1, 0, 8, 6, 0, 1, 32, 99, 7, 0, 0, 9};
  EXPECT_EQ(Pack1(w, "pw"), 0u);
  fs::remove(archive);

  EXPECT_EQ(zip_pack1(nullptr, archive.c_str(), (dir / "a.txt").c_str(), nullptr, nullptr), 0x10000u);
  EXPECT_EQ(zip_pack1(nullptr, nullptr, (dir / "a.txt").c_str(), nullptr, Pack().data()), 0x13201u);
  fs::create_directory(dir / "sub");
  EXPECT_EQ(Pack1(Pack(), nullptr, "sub"), 0x120000u);
  EXPECT_EQ(Pack1(Pack(), nullptr, "sub/"), 0x120000u);
  EXPECT_EQ(Pack1(Pack(), nullptr, "missing"), 0x10a0000u);
  EXPECT_EQ(Pack2(Pack(), nullptr, "*.none"), 0x1010000u);
  w = Pack();
  w[14] = 1;
  WriteFile(dir / "bad.lst", dir.path().string() + "\r\na.txt\r\nmissing.txt\r\n");
  EXPECT_EQ(Pack2(w, nullptr, "bad.lst"), 0x10a0000u);
  EXPECT_FALSE(fs::exists(archive));
  // The archive among its own sources: left out of the walk, refused as the one source,
  // refused as the list file; a refused call keeps the old file.
  archive = dir / "z.txt";
  WriteFile(archive, "old");
  EXPECT_EQ(Pack2(Pack()), 0u);
  Archive made = ReadArchive(archive);
  ASSERT_EQ(made.entries.size(), 1u);
  EXPECT_EQ(made.entries[0].first.name, "a.txt");
  std::string packed = ReadFile(archive);
  EXPECT_EQ(Pack1(Pack(), nullptr, "z.txt"), 0x1020000u);
  w = Pack();
  w[14] = 1;
  EXPECT_EQ(zip_pack2(nullptr, archive.c_str(), archive.c_str(), nullptr, w.data()), 0x1020000u);
  EXPECT_EQ(ReadFile(archive), packed);
  archive = dir / "no/such/folder.zip";
  EXPECT_EQ(Pack1(Pack()), 0x1020000u);
  EXPECT_EQ(Pack2(Pack()), 0x1020000u);
}

TEST_F(ZipPackCall, CancelInTheProgressWindowLeavesNoArchive) {
  WriteFile(dir / "b.txt", "second");
  Words w = Pack();
  w[1] = 1;
  // Turn 1 opens the window, each block of a member takes a turn, zip_pack2 announces
  // each member with one: a.txt has six blocks.
  const std::tuple<bool, unsigned, uint32_t> cases[] = {
      {true, 4, 0x901801}, {false, 5, 0x901801}, {false, 9, 0x900003}};
  for (auto [one, turn, code] : cases) {
    ScriptedUi ui;
    ui.dialogs.PressAt(turn, ui::ProgressEvent::Cancel);
    EXPECT_EQ(one ? Pack1(w) : Pack2(w), code) << turn;
    EXPECT_FALSE(fs::exists(archive));
  }
  ScriptedUi ui;
  ui.dialogs.FailNextOpen();
  EXPECT_EQ(Pack1(w), 0x900001u);
  EXPECT_EQ(Pack2(w), 0u);
  EXPECT_NE(ui.dialogs.record().shown.at(ui::ProgressField::Status).find("2 / 2"), std::string::npos);
}

TEST_F(ZipPackCall, PasswordPromptOnlyWhenEncryptingWithoutPassword) {
  Words w = Aes(2, 16);
  w[1] = 4;
  ScriptedUi ui;
  ui.dialogs.CancelPassword();
  EXPECT_EQ(Pack1(w), 0x900002u);
  EXPECT_FALSE(fs::exists(archive));
  ui.dialogs.AnswerPassword("typed secret");
  ASSERT_EQ(Pack1(w), 0u);
  std::string out;
  EXPECT_EQ(Peer("7zz t -p'typed secret' " + Quote(archive), &out), 0) << out;
  Words plain = Pack();
  plain[1] = 4;
  EXPECT_EQ(Pack1(plain), 0u);
  EXPECT_EQ(Pack1(w, "given"), 0u);
  EXPECT_EQ(ui.dialogs.record().password_prompts, 2u);
}

}  // namespace
}  // namespace tx::test
