// Where the archive is found, which export takes which shape, prompts, filters, folder
// times, and the listing's columns.
#include <sys/stat.h>

#include "svz_test.h"

namespace tx::test {
namespace {

using Edges = SvzScratch;

TEST_F(Edges, StartHeaderIsFoundBehindAStubWithinTheFirst256KiB) {
  Source({{"a.txt", "behind a stub"}});
  std::string archive = ReadFile(SevenZip("-m0=LZMA"));
  std::string stub = RandomBytes(100 * 1024, 9);
  std::string out = Out();
  EXPECT_EQ(Unpack(3, Save(stub + archive), out), 0u);
  EXPECT_EQ(ReadFile(out + "/a.txt"), "behind a stub");
  // A stub that puts the start header across a read boundary.
  EXPECT_EQ(Unpack(3, Save(RandomBytes(32768 - 10, 4) + archive), Out()), 0u);
  EXPECT_EQ(Unpack(3, Save(RandomBytes(256 * 1024, 9) + archive), Out()), 0x00841301u);
  std::string text;
  EXPECT_EQ(List(Save(RandomBytes(300 * 1024, 9) + archive), text), 0x00841301u);
  EXPECT_EQ(Unpack(3, Save(archive.substr(0, 20)), Out()), 0x00841301u);
}

TEST_F(Edges, SingleEntryArchives) {
  Source({{"one.bin", RandomBytes(5000, 2)}});
  std::string one = SevenZip("-m0=LZMA");
  std::string out = Out();
  EXPECT_EQ(Unpack(1, one, out), 0u);
  EXPECT_EQ(ReadFile(out + "/one.bin"), RandomBytes(5000, 2));
  Source({{"empty", ""}});
  std::string empty = SevenZip("");
  EXPECT_EQ(Unpack(1, empty, out), 0u);
  EXPECT_TRUE(fs::exists(out + "/empty"));
  EXPECT_EQ(fs::file_size(out + "/empty"), 0u);
  Source({{"a", "1"}, {"b", "2"}});
  EXPECT_EQ(Unpack(1, SevenZip("-m0=Copy"), Out()), 0x0075001fu);
  Source({{"d/x", "1"}});
  EXPECT_EQ(Unpack(1, SevenZip("-m0=Copy"), Out()), 0x0075001fu);
}

TEST_F(Edges, OverwritePromptAnswers) {
  Source({{"a", "new a"}, {"b", "new b"}, {"c", "new c"}});
  std::string archive = SevenZip("-m0=LZMA -ms=off");
  std::string out = Out();
  for (const char* name : {"a", "b", "c"}) WriteFile(out + "/" + name, "old");
  {
    // No answer can be had: nothing is replaced.
    ScriptedUi ui;
    EXPECT_EQ(Unpack(3, archive, out, nullptr, TESSAREX_FLAG_ASK_OVERWRITE), 0x00900004u);
    EXPECT_EQ(ReadFile(out + "/a"), "old");
  }
  {
    ScriptedUi ui;
    ui.dialogs.AnswerOverwrite(2);  // skip a
    ui.dialogs.AnswerOverwrite(5);  // all the rest
    EXPECT_EQ(Unpack(3, archive, out, nullptr, TESSAREX_FLAG_ASK_OVERWRITE), 0u);
    EXPECT_EQ(ui.dialogs.record().overwrite_questions.size(), 2u);
    EXPECT_EQ(Tree(out), (std::map<std::string, std::string>{{"a", "old"}, {"b", "new b"}, {"c", "new c"}}));
  }
  {
    ScriptedUi ui;
    ui.dialogs.AnswerOverwrite(2);
    Source({{"a", "single"}});
    EXPECT_EQ(Unpack(1, SevenZip("-m0=Copy"), out, nullptr, TESSAREX_FLAG_ASK_OVERWRITE), 0x00900004u);
    EXPECT_EQ(ReadFile(out + "/a"), "old");
  }
}

TEST_F(Edges, FilterPicksFilesOutOfASolidBlock) {
  Source({{"a.txt", "A"}, {"b.bin", "B"}, {"c.txt", "C"}, {"d/e.txt", "E"}});
  std::string archive = SevenZip("-m0=LZMA -ms=on");
  std::string out = Out();
  EXPECT_EQ(Unpack(3, archive, out, nullptr, 0, "*.txt"), 0u);
  EXPECT_EQ(Tree(out), (std::map<std::string, std::string>{
                           {"a.txt", "A"}, {"c.txt", "C"}, {"d/", ""}, {"d/e.txt", "E"}}));
  std::string none = Out();
  EXPECT_EQ(Unpack(3, archive, none, nullptr, 0, "nothing"), 0u);
  EXPECT_TRUE(fs::is_empty(none));
}

TEST_F(Edges, FolderTimesAreSetAfterTheirContents) {
  Source({{"d/inner/file", "x"}, {"d/other", "y"}});
  Shell("touch -d '2001-02-03 04:05:06' " + Quote(dir / "src/d/inner") + " " + Quote(dir / "src/d"));
  std::string archive = SevenZip("-m0=LZMA");
  std::string out = Out();
  ASSERT_EQ(Unpack(3, archive, out), 0u);
  struct stat st {};
  ASSERT_EQ(::stat((out + "/d").c_str(), &st), 0);
  struct stat inner {};
  ASSERT_EQ(::stat((out + "/d/inner").c_str(), &inner), 0);
  struct stat source {};
  ASSERT_EQ(::stat((dir / "src/d").c_str(), &source), 0);
  EXPECT_EQ(st.st_mtime, source.st_mtime);
  EXPECT_EQ(inner.st_mtime, source.st_mtime);
}

TEST_F(Edges, DemandedEncryption) {
  Source({{"a", "1"}});
  EXPECT_EQ(Unpack(3, SevenZip("-m0=Copy"), Out(), nullptr, 0, nullptr, 1), 0x00400001u);
  EXPECT_EQ(Unpack(3, SevenZip("-m0=Copy -pPW"), Out(), "PW", 0, nullptr, 1), 0x00400001u);
  EXPECT_EQ(Unpack(3, SevenZip("-m0=Copy -pPW -mhe=on"), Out(), "PW", 0, nullptr, 1), 0u);
  // The password asked for once, and its Cancel.
  std::string hidden = SevenZip("-m0=Copy -pPW -mhe=on");
  ScriptedUi ui;
  ui.dialogs.CancelPassword();
  EXPECT_EQ(Unpack(3, hidden, Out(), nullptr, TESSAREX_FLAG_ASK_PASSWORD), 0x00900002u);
  ui.dialogs.AnswerPassword("PW");
  EXPECT_EQ(Unpack(3, hidden, Out(), nullptr, TESSAREX_FLAG_ASK_PASSWORD), 0u);
  EXPECT_EQ(ui.dialogs.record().password_prompts, 2u);
}

TEST_F(Edges, ListingColumnsRulesAndTotals) {
  std::string text;
  Source({{"folder/", ""}});
  ASSERT_EQ(List(SevenZip(""), text), 0u);
  // Method, blank encryption and CRC, blank size, packed size 0.
  EXPECT_NE(text.find(" Folder     " + std::string(9 + 8 + 13, ' ') + std::string(12, ' ') + "0 folder\r\n"),
            std::string::npos)
      << text;
  EXPECT_NE(
      text.find("Content : 1\r\nBlock   : 0\r\n\r\n   Date      Time   Attr  Method     CP Sa IV  CRC-32"),
      std::string::npos)
      << text;

  std::map<std::string, std::string> many;
  for (int i = 0; i < 25; ++i) many["f" + std::to_string(100 + i)] = "content " + std::to_string(i);
  Source(many);
  ASSERT_EQ(List(SevenZip("-m0=LZMA -ms=off"), text), 0u);
  const std::string rule =
      "---------- -------- ---- ----------- -------- -------- ------------ ------------ ";
  size_t rules = 0, at = 0;
  std::vector<size_t> before;
  while ((at = text.find(rule, at)) != std::string::npos) ++rules, at += rule.size();
  EXPECT_EQ(rules, 4u);
  EXPECT_LT(text.find(rule), text.find("f100\r\n"));
  EXPECT_LT(text.find("f109\r\n"), text.find(rule, text.find("f100")));
  EXPECT_NE(text.find("       25 files       0 empties       0 folders"), std::string::npos) << text;

  Source({{"a", std::string(3000, 'a')}, {"b", std::string(2000, 'b')}, {"c", std::string(1000, 'c')}});
  std::string solid = SevenZip("-m0=LZMA -ms=on -mhc=off");
  ASSERT_EQ(List(solid, text), 0u);
  EXPECT_NE(text.find("Block   : 1 (Solid)"), std::string::npos) << text;
  EXPECT_NE(text.find("         2000            0 b\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("         1000            0 c\r\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("         3000            0 a\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find(" LZMA        "), std::string::npos);

  ASSERT_EQ(List(SevenZip("-m0=BCJ -m1=LZMA -mhe=on -pPW"), text, "PW"), 0u);
  EXPECT_NE(text.find("\r\nHeader  : Compress (LZMA) & Encrypt (19 0 16)"), std::string::npos) << text;
  EXPECT_NE(text.find("BCJ LZMA    19  0 16 "), std::string::npos) << text;

  EXPECT_EQ(List(solid, text, nullptr, 20), 0x00280000u);
  EXPECT_EQ(text, "");
  uint32_t options[1] = {0};
  EXPECT_EQ(svz_list(nullptr, solid.c_str(), nullptr, nullptr, 10, options), 0x00010003u);
}

}  // namespace
}  // namespace tx::test
