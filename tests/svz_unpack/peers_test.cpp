// 7-Zip's own archives, in the methods and shapes this library reads, come out
// byte-identical; the ones it does not decode are refused per entry and still listed.
#include "svz_test.h"

namespace tx::test {
namespace {

std::map<std::string, std::string> Files() {
  std::string text;
  for (int i = 0; i < 20000; ++i) text += "line " + std::to_string(i * 7919 % 1000) + " of some text\n";
  std::string code = RandomBytes(150000, 3);
  for (size_t i = 0; i + 5 < code.size(); i += 37) code[i] = '\xE8';  // CALLs for the converter
  return {{"text.txt", text},    {"random.bin", RandomBytes(70000, 1)},
          {"empty", ""},         {"dir/sub/inner.txt", "inner"},
          {"dir/emptydir/", ""}, {"prog.exe", code}};
}

using Peers = SvzScratch;

TEST_F(Peers, EverydayArchivesComeOutByteIdentical) {
  Source(Files());
  const auto expected = Tree(dir / "src");
  struct Case {
    std::string switches;
    bool solid;
    const char* password;
  } cases[] = {
      {"-m0=LZMA -ms=on", true, nullptr},
      {"-m0=LZMA -ms=off", false, nullptr},
      {"-m0=Copy -ms=off", false, nullptr},
      {"-m0=Copy -mhc=off", false, nullptr},
      {"-m0=Deflate -ms=on", true, nullptr},
      {"-m0=Deflate -ms=off", false, nullptr},
      {"-m0=BZip2 -ms=on", true, nullptr},
      {"-m0=BZip2 -ms=off", false, nullptr},
      {"-m0=BCJ -m1=LZMA -ms=on", true, nullptr},
      {"-m0=BCJ -m1=LZMA -ms=off", false, nullptr},
      {"-m0=LZMA -mhe=on -pPASS -ms=on", true, "PASS"},
      {"-m0=LZMA -mhe=on -pPASS -ms=off", false, "PASS"},
      {"-m0=Deflate -mhe=on -pPASS -mhc=off", true, "PASS"},
      {"-m0=LZMA -mx=9 -ms=on -mhc=off", true, nullptr},
  };
  for (const Case& c : cases) {
    std::string archive = SevenZip(c.switches);
    std::string out = Out();
    EXPECT_EQ(Unpack(3, archive, out, c.password), 0u) << c.switches;
    EXPECT_EQ(Tree(out), expected) << c.switches;
    if (!c.solid) {
      std::string out2 = Out();
      EXPECT_EQ(Unpack(2, archive, out2, c.password), 0u) << c.switches;
      EXPECT_EQ(Tree(out2), expected) << c.switches;
    } else {
      EXPECT_EQ(Unpack(2, archive, Out(), c.password), 0x00600000u) << c.switches;
    }
    std::string text;
    EXPECT_EQ(List(archive, text, c.password), 0u) << c.switches;
    EXPECT_NE(text.find("dir/sub/inner.txt\r\n"), std::string::npos) << text;
  }
}

TEST_F(Peers, PasswordsInAnyScriptDecryptExactly) {
  Source({{"a.bin", RandomBytes(100001, 5)}, {"b.txt", "short"}});
  const auto expected = Tree(dir / "src");
  for (std::string password : {"PASS", "pässwörd é", "日本語のパスワード"}) {
    for (std::string extra : {"-mhc=off", "-mhe=on"}) {
      std::string archive = SevenZip("-m0=Copy " + extra + " '-p" + password + "'");
      std::string out = Out();
      EXPECT_EQ(Unpack(3, archive, out, password.c_str()), 0u) << password << extra;
      EXPECT_EQ(Tree(out), expected) << password << extra;
    }
  }
}

TEST_F(Peers, WrongPasswordLeavesNoFileAndKeepsTheOldOne) {
  Source({{"a.txt", std::string(5000, 'a') + "tail"}});
  std::string archive = SevenZip("-m0=LZMA -pright");
  std::string out = Out();
  WriteFile(out + "/a.txt", "old content");
  uint32_t code = Unpack(3, archive, out, "wrong");
  EXPECT_TRUE((code >> 16) == 0x31 || (code >> 16) == 0x61 || (code >> 16) == 0x30) << std::hex << code;
  EXPECT_EQ(Tree(out), (std::map<std::string, std::string>{{"a.txt", "old content"}}));
  // Copy data has nothing to fail on but its CRC.
  std::string copy = SevenZip("-m0=Copy -pright");
  EXPECT_EQ(Unpack(3, copy, out, "wrong"), 0x00610000u);
  EXPECT_EQ(Tree(out), (std::map<std::string, std::string>{{"a.txt", "old content"}}));
  // An encrypted header with the wrong password: its CRC or its decoding fails.
  std::string hidden = SevenZip("-m0=LZMA -mhe=on -pright");
  code = Unpack(3, hidden, out, "wrong");
  EXPECT_NE(code, 0u);
  std::string text;
  EXPECT_NE(List(hidden, text, "wrong"), 0u);
}

TEST_F(Peers, PpmdArchivesAreRefusedPerEntryAndListed) {
  Source({{"a.txt", "some text"}, {"b.txt", "more text"}, {"e", ""}});
  std::string archive = SevenZip("-m0=PPMd");
  std::string out = Out();
  EXPECT_EQ(Unpack(3, archive, out), 0x00330000u);
  EXPECT_FALSE(fs::exists(out + "/a.txt"));
  EXPECT_FALSE(fs::exists(out + "/b.txt"));
  for (const auto& e : fs::directory_iterator(out)) EXPECT_EQ(e.path().filename(), "e");
  std::string text;
  EXPECT_EQ(List(archive, text), 0u);
  EXPECT_NE(text.find(" PPMd       "), std::string::npos) << text;
  // With the error notice answered "go on", the refusal is reported and the call ends well.
  ScriptedUi ui;
  ui.dialogs.AnswerNotice(1);
  EXPECT_EQ(Unpack(3, archive, Out(), nullptr, TESSAREX_FLAG_ASK_ON_ERROR), 0u);
  ASSERT_EQ(ui.dialogs.record().notices.size(), 1u);
}

}  // namespace
}  // namespace tx::test
