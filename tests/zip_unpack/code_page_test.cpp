// Names without the UTF-8 flag in a DOS code page: decoded before any path check, in the
// page the host or the locale chooses, against 7-Zip's raw names decoded by Python.
#include "platform/code_page.h"

#include <gtest/gtest.h>

#include "zip_test.h"

namespace tx::test {
namespace {

// "表" 0x95 0x5C and "ソ" 0x83 0x5C end in the byte of "\": read as a separator they would
// split or refuse the name.
const std::string kHyo = "\x95\x5C", kSo = "\x83\x5C";
const std::string kSoft = kSo + "\x83\x74\x83\x67";  // ソフト

class CodePage : public ZipScratch {
 protected:
  void TearDown() override { EXPECT_EQ(tessarex_set_code_page(0), 0u); }

  // Each raw name as a one-byte member.
  std::string RawArchive(const std::vector<std::string>& names) {
    std::vector<Member> members;
    for (const std::string& name : names) members.push_back({.name = name, .data = "x"});
    return Archive(members);
  }

  // The files 7-Zip extracts keep the stored bytes as their names; Python's codec decodes them.
  std::map<std::string, std::string> PeerTree(const std::string& archive, uint32_t code_page) {
    std::string out = Out();
    EXPECT_EQ(Peer("7zz x -y -o" + Quote(out) + " " + Quote(archive)), 0);
    std::string listing = Shell("cd " + Quote(out) +
                                " && /usr/bin/python3 -c \"import os,sys\n"
                                "for d,_,fs in os.walk(b'.'):\n"
                                " for f in fs: sys.stdout.buffer.write(os.path.relpath(os.path.join(d,f))"
                                ".decode('cp" +
                                std::to_string(code_page) + "').encode()+b'\\n')\"");
    std::map<std::string, std::string> files;
    std::istringstream lines(listing);
    for (std::string line; std::getline(lines, line);) files[line] = "x";
    return files;
  }

  std::map<std::string, std::string> Files(const std::string& root) {
    std::map<std::string, std::string> files;
    for (auto& [name, content] : Tree(root))
      if (name.back() != '/') files[name] = content;
    return files;
  }
};

TEST_F(CodePage, JapaneseTrailBytesStayInTheirCharacters) {
  std::string archive = RawArchive({kHyo + ".txt", kSoft + "/" + kHyo + kSo + ".txt"});
  ASSERT_EQ(tessarex_set_code_page(932), 0u);
  std::string out = Out();
  ASSERT_EQ(Unpack2(archive, out), 0u);
  const std::map<std::string, std::string> expected = {{"表.txt", "x"}, {"ソフト/表ソ.txt", "x"}};
  EXPECT_EQ(Files(out), expected);
  EXPECT_EQ(Files(out), PeerTree(archive, 932));

  std::string text;
  ASSERT_EQ(List(archive, text), 0u);
  EXPECT_NE(text.find(" 表.txt\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find(" ソフト/表ソ.txt\r\n"), std::string::npos) << text;
}

TEST_F(CodePage, SingleBytePagesMatchThePeer) {
  struct Case {
    uint32_t code_page;
    std::string raw, utf8;
  };
  const Case cases[] = {
      {866, "\x8F\xE0\xA8\xA2\xA5\xE2.txt", "Привет.txt"},
      {737, "\x84\x98\x9A\x98\xA0.txt", "Εαγαι.txt"},
      {437, "\xC9\xCD\xBB\xB0.txt", "╔═╗░.txt"},
      {720, "\x9F\xA0\xA1.txt", "ابة.txt"},  // no iconv converter: our own table
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code_page);
    std::string archive = RawArchive({c.raw});
    ASSERT_EQ(tessarex_set_code_page(c.code_page), 0u);
    std::string out = Out();
    ASSERT_EQ(Unpack2(archive, out), 0u);
    EXPECT_EQ(Files(out), (std::map<std::string, std::string>{{c.utf8, "x"}}));
    EXPECT_EQ(Files(out), PeerTree(archive, c.code_page));
  }
}

TEST_F(CodePage, ValidUtf8AndTheFlagComeFirst) {
  ASSERT_EQ(tessarex_set_code_page(932), 0u);
  // C3 A9 is "é" in UTF-8 and two half-width katakana in 932: UTF-8 wins.
  std::string out = Out();
  ASSERT_EQ(Unpack2(RawArchive({"caf\xC3\xA9"}), out), 0u);
  EXPECT_EQ(Files(out), (std::map<std::string, std::string>{{"café", "x"}}));
  // A flagged name is never read in the code page.
  uint32_t code = Unpack2(Archive({{.name = kHyo, .data = "x", .flags = 0x800}}), Out());
  EXPECT_EQ(code >> 24, 0x01u) << std::hex << code;
}

TEST_F(CodePage, UndefinedSequencesAreRefused) {
  ASSERT_EQ(tessarex_set_code_page(932), 0u);
  uint32_t unflagged_code = 0;
  for (const std::string& name : {std::string("\x85\x40.txt"), std::string("a\x81")}) {
    std::string out = Out();
    uint32_t code = Unpack2(RawArchive({name}), out);
    EXPECT_EQ(code >> 24, 0x01u) << std::hex << code;  // as a flagged name that is not UTF-8
    EXPECT_TRUE(Files(out).empty());
    unflagged_code = code;
  }
  EXPECT_EQ(unflagged_code, Unpack2(Archive({{.name = kHyo, .data = "x", .flags = 0x800}}), Out()));
  std::string text;
  EXPECT_NE(List(RawArchive({"\x85\x40"}), text), 0u);
}

TEST_F(CodePage, UnknownPagesAreRefusedAndChangeNothing) {
  ASSERT_EQ(tessarex_set_code_page(866), 0u);
  for (uint32_t code_page : {1u, 7u, 0x10000u + 932})
    EXPECT_EQ(tessarex_set_code_page(code_page), 0x00010002u);
  EXPECT_EQ(platform::NameCodePage(), 866u);
  for (uint32_t code_page : {932u, 936u, 949u, 950u, 874u, 775u, 852u, 850u, 857u, 862u, 855u, 1258u})
    EXPECT_EQ(tessarex_set_code_page(code_page), 0u) << code_page;
}

TEST(CodePageOfLocale, AsWindowsGivesTheLanguage) {
  const std::pair<const char*, uint32_t> cases[] = {
      {"ja_JP.UTF-8", 932}, {"ru_RU.UTF-8", 866}, {"uk_UA", 866},
      {"el_GR.UTF-8", 737}, {"zh_CN.UTF-8", 936}, {"zh_SG", 936},
      {"zh_TW.UTF-8", 950}, {"zh_HK.UTF-8", 950}, {"ko_KR.UTF-8", 949},
      {"th_TH", 874},       {"tr_TR.UTF-8", 857}, {"he_IL", 862},
      {"ar_EG.UTF-8", 720}, {"pl_PL.UTF-8", 852}, {"sr_RS@latin", 852},
      {"sr_RS", 855},       {"lt_LT", 775},       {"vi_VN", 1258},
      {"de_DE.UTF-8", 850}, {"pt_BR", 850},       {"en_US.UTF-8", 437},
      {"en_GB.UTF-8", 850}, {"en_ZA", 437},       {"C.UTF-8", 437},
      {"POSIX", 437},       {"hi_IN", 437},       {"", 437},
  };
  for (const auto& [locale, code_page] : cases)
    EXPECT_EQ(platform::OemCodePageOfLocale(locale), code_page) << locale;
}

TEST_F(CodePage, CommandFollowsTheLocaleAndTheOption) {
  std::string archive = RawArchive({kSoft + "/" + kHyo + ".txt"});
  std::string japanese = Out(), cyrillic = Out();
  std::string cli = Quote(TX_CLI_PATH);
  EXPECT_EQ(
      Peer("env LC_ALL=ja_JP.UTF-8 " + cli + " zip unpack " + Quote(archive) + " --to " + Quote(japanese)),
      0);
  EXPECT_EQ(Files(japanese), (std::map<std::string, std::string>{{"ソフト/表.txt", "x"}}));
  // The option outranks the locale: in 866 each 0x5C is a "\" of its own.
  std::string text = Shell("env LC_ALL=ja_JP.UTF-8 " + cli + " --code-page 866 zip list " + Quote(archive));
  EXPECT_NE(text.find(" Г\\ГtГg/Х\\.txt"), std::string::npos) << text;
  int status = 0;
  Shell(cli + " --code-page 7 zip list " + Quote(archive) + " 2>&1", &status);
  EXPECT_EQ(status, 2);
  EXPECT_EQ(Peer(cli + " --help | grep -q -- --code-page"), 0);
}

}  // namespace
}  // namespace tx::test
