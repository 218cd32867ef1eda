#include "frame/names.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <string>

#include "frame/listing.h"
#include "frame/name_list.h"
#include "frame/times.h"
#include "support.h"

namespace tx::frame {
namespace {

using namespace std::string_literals;
using test::W;

TEST(Names, CheckNameRefusesEveryHostileForm) {
  struct {
    const char16_t* set;
    StatusCode code;
    const char* names;  // "|"-separated
  } const cases[] = {
      {kRefusedPeaPath, 0x00113101, ""},
      {kRefusedPeaPath, 0x00103102, "a/../b|../a|..|a/..|/../x|x//..|a/b/.."},
      {kRefusedSingleName, 0x00103102, ".."},
      {kRefusedListName, 0x00103103, "..\\a|a\\..\\b|a\\..|\\.."},
      {kRefusedPeaPath, 0x00103104, "a//b|a/b//"},
      {kRefusedEntryName, 0x00103105, "/etc|/"},
      {kRefusedEntryName, 0x00103101, "a\\..|C:x"},  // "\" and ":" are refused before all else
      {kRefusedSingleName, 0x00103101, "a/b"},
      {kRefusedEntryName, 0, "..name|name..|a/..b|a/b..|...|a/./b|dir/|\xc3\xa4/\xe6\x97\xa5.txt"},
      {kRefusedPeaPath, 0, "\\a|C:\\data|a:b"},
      // Only a component that is exactly ".." climbs; other runs of dots are names.
      {kRefusedPeaPath, 0, ".../a|..../b|a/.../b|a/...|..x/y|a\\...\\b|.x./..."},
      {kRefusedPeaPath, 0x00103102, ".../../a|a\\../b|..\\a/../b|.../.."},
      {kRefusedPeaPath, 0x00103103, ".../..\\a|a/...\\.."}};
  for (const auto& c : cases) {
    for (const std::string& name : test::Split(c.names))
      EXPECT_EQ(CheckName(W(name).c_str(), c.set), c.code) << name;
  }
  for (const char16_t* set : {kRefusedPeaPath, kRefusedListName, kRefusedEntryName, kRefusedSingleName}) {
    for (const char16_t* c = set; *c != 0; ++c)
      EXPECT_EQ(CheckName((u"a"s + *c + u"b").c_str(), set), 0x00103101u);
  }
  EXPECT_EQ(CheckName(nullptr, kRefusedPeaPath), 0x00113101u);
  // Lengths count UTF-16 units: 1023 pass, 1024 are too long whatever else they hold.
  EXPECT_EQ(CheckName(std::u16string(1023, u'a').c_str(), kRefusedPeaPath), 0u);
  EXPECT_EQ(CheckName(std::u16string(1024, u'a').c_str(), kRefusedPeaPath), 0x00113102u);
  EXPECT_EQ(CheckName((std::u16string(1022, u'.') + u"/*").c_str(), kRefusedPeaPath), 0x00113102u);
  EXPECT_EQ(CheckName((std::u16string(1022, u'a') + u"\U0001F600").c_str(), kRefusedPeaPath), 0x00113102u);
}

TEST(Names, PatternsExtensionsAndNameLists) {
  // The prefix and the suffix around the first "*" are tested apart, so they may overlap.
  EXPECT_TRUE(MatchPattern(u"*.TXT", u"a.txt") && MatchPattern(u"a*", u"A") && MatchPattern(u"", u"any") &&
              MatchPattern(u"*", u"") && MatchPattern(u"ab*ba", u"aba") && MatchPattern(u"a*b*c", u"aXb*c"));
  EXPECT_FALSE(MatchPattern(u"x", u"xy") || MatchPattern(u"ab*ba", u"ab") ||
               MatchPattern(u"a*b*c", u"aXbYc") || MatchPattern(u"?", u"a") ||
               MatchPattern(u"\u00c4", u"\u00e4"));
  EXPECT_TRUE(HasExtension(u"setup.EXE", kExecutableExtensions) &&
              HasExtension(u".sys", kExecutableExtensions));
  EXPECT_FALSE(HasExtension(u"a.exe.txt", kExecutableExtensions) ||
               HasExtension(u"exe", kExecutableExtensions));
  EXPECT_TRUE(HasExtension(u"a.exe", (u".exe." + std::u16string(250, u'x')).c_str()));
  EXPECT_FALSE(HasExtension(u"a.exe", (u".exe." + std::u16string(251, u'x')).c_str()));  // 256 units

  const char16_t* names = u"a.txt\0b.doc\0";
  const char16_t* hostile = u"a.txt\0../x\0";
  bool matched = true;
  EXPECT_TRUE(MatchAnyName(u"*", names, 0, matched) == 0 && !matched);
  EXPECT_TRUE(MatchAnyName(u"*.DOC", names, 2, matched) == 0 && matched);
  EXPECT_TRUE(MatchAnyName(u"*.zip", names, 2, matched) == 0 && !matched);
  EXPECT_EQ(MatchAnyName(u"*.zip", hostile, 2, matched), 0x00103102u);
  EXPECT_TRUE(MatchAnyName(u"*.txt", hostile, 2, matched) == 0 && matched);  // found before the bad name
  EXPECT_TRUE(MatchAllNames(u"*.zip", names, 0, matched) == 0 && matched);
  EXPECT_TRUE(MatchAllNames(u"*.txt", names, 2, matched) == 0 && !matched);
  EXPECT_TRUE(MatchAllNames(u"*", hostile, 2, matched) == 0 && matched);
  EXPECT_EQ(MatchAllNames(u"", hostile, 2, matched), 0x00103102u);
  EXPECT_EQ(MatchAllNames(u"*.txt", u"a.txt\0C:x.txt\0", 2, matched), 0x00103101u);
}

class ListFile : public ::testing::Test {
 protected:
  // Reads `content` as a list file; the names come back with each zero shown as "|".
  StatusCode Read(const std::string& content, const std::string& file = "") {
    if (file.empty()) test::WriteFile(path_, content);
    StatusCode code = ReadListFile(W(file.empty() ? path_ : file).c_str(), base_, count_, names_);
    joined_.assign(names_.data(), code == 0 ? names_.used() : 0);
    for (char16_t& c : joined_) c = c ? c : u'|';
    return code;
  }
  test::TempDir dir_;
  std::string path_ = dir_ / "list.txt";
  platform::WidePath base_;
  uint32_t count_ = 0;
  NameBuffer names_;
  std::u16string joined_;
};

TEST_F(ListFile, BaseNamesAndEveryRefusal) {
  EXPECT_EQ(Read("C:\\base\\dir\r\n\r\nsub\\a.txt\r\nb \xc3\xa4.txt\r\n\r\n" + std::string(1023, 'n')), 0u);
  EXPECT_EQ(test::U8(base_.c_str()), "C:/base/dir/");
  EXPECT_EQ(joined_, u"sub/a.txt|b \u00e4.txt|" + std::u16string(1023, u'n') + u"|");
  EXPECT_EQ(count_, 3u);
  EXPECT_EQ(Read("\xEF\xBB\xBF/home/u/\r\nx"), 0u);  // an absolute base is a platform path here
  EXPECT_EQ(test::U8(base_.c_str()), "/home/u/");
  EXPECT_TRUE(Read("/b\rname\r") == 0 && joined_ == u"name|");  // a lone CR ends a line, losing nothing
  EXPECT_TRUE(Read("/b\r\n...\\x\r\n..y/...\r\n") == 0 && joined_ == u".../x|..y/...|");

  // clang-format off
  const std::pair<StatusCode, std::string> files[] = {
      {0x00133701, "/base\r\n"}, {0x00133701, "\r\n/base\r\n\r\n"}, {0x00133701, "/base\nname\n"},
      {0x00103101, "/b*\r\nname"}, {0x00103102, "/b/../c\r\nname"}, {0x01203701, "/b\r\na\0b"s},
      {0x00113102, std::string(1023, 'b') + "\r\nname"}};  // no room for the final "/"
  // clang-format on
  for (const auto& [code, content] : files) EXPECT_EQ(Read(content), code) << content;
  // clang-format off
  const std::pair<StatusCode, std::string> lines[] = {
      {0x00103101, "C:x|a*b"}, {0x00103102, "../x|a/..|.."}, {0x00103103, "..\\x|a\\.."},
      {0x00103104, "a//b|a\\\\b"}, {0x00103105, "/etc/passwd|\\etc\\passwd"},  // refused as stored
      {0x01203701, "\xff|" + std::string(1024, 'n')}};
  // clang-format on
  for (const auto& [code, names] : lines) {
    for (const std::string& name : test::Split(names)) EXPECT_EQ(Read("/b\r\n" + name), code) << name;
  }
  EXPECT_TRUE(Read("", dir_ / "missing") == 0x01023701 && Read("", dir_.path().string()) == 0x01023701);
  EXPECT_EQ(Read(""), 0x01083701u);
  EXPECT_EQ(test::InChild([&] { return test::RefuseSyscall(SYS_read), Read("/b\r\nname"); }), 0x01033701u);
}

std::u16string Ordered(int mode, std::u16string names) {
  EXPECT_EQ(OrderByType(mode, names.data(), names.size()), 0u);
  return names;
}

TEST(NameLists, OrderByTypeAppendReversedAndGrowth) {
  const std::u16string sample = u"b.txt\0a.zip\0c\0d.txt\0e.qqq\0"s;
  EXPECT_EQ(Ordered(0, sample), sample);
  EXPECT_EQ(Ordered(1, sample), u"c\0a.zip\0b.txt\0d.txt\0e.qqq\0"s);
  EXPECT_EQ(Ordered(2, u"b.txt\0x.exe\0"s + sample.substr(6)), u"c\0a.zip\0b.txt\0d.txt\0e.qqq\0x.exe\0"s);
  // Table order ignores case; other types keep the order of their first appearance.
  EXPECT_EQ(Ordered(1, u"x.TXT\0a.qqq\0b.rr\0y.7Z\0c.QQQ\0z.tar.gz\0d.rr\0"s),
            u"y.7Z\0z.tar.gz\0x.TXT\0a.qqq\0c.QQQ\0b.rr\0d.rr\0"s);
  // A last name without its zero stays last rather than moving unterminated.
  EXPECT_EQ(Ordered(1, u"b.txt\0a.zip\0c.rar"s), u"a.zip\0b.txt\0c.rar"s);

  char16_t target[16] = {u'x', u'y'};
  EXPECT_EQ(AppendReversed(target, 2, u"a\0\0bc\0d\0", 8), 9u);
  EXPECT_EQ(std::u16string(target, 9), u"xyd\0bc\0a\0"s);

  NameBuffer buffer;  // grows by whole steps of 8192 units and keeps what it holds
  const std::u16string name(9000, u'n');
  EXPECT_TRUE(buffer.Append(u"abc", 3) && buffer.Append(name.c_str(), 9000) &&
              buffer.Append(name.c_str(), 8000));
  EXPECT_EQ(buffer.capacity(), 3 * NameBuffer::kGrowUnits);
  EXPECT_EQ(std::u16string(buffer.data(), buffer.used()),
            u"abc\0"s + name + u'\0' + name.substr(0, 8000) + u'\0');
}

constexpr platform::FileTime kUnixEpoch = 116444736000000000;
constexpr platform::FileTime kSecond = 10000000;

constexpr uint16_t DosDate(int year, int month, int day) { return ((year - 1980) << 9) | (month << 5) | day; }
constexpr uint16_t DosTime(int hour, int minute, int second) {
  return (hour << 11) | (minute << 5) | second / 2;
}

TEST(Times, UnixSeconds) {
  EXPECT_TRUE(UnixToFileTime(0) == kUnixEpoch &&
              FileTimeToUnix(UnixToFileTime(0xFFFFFFFF) + kSecond - 1) == 0xFFFFFFFF);
  EXPECT_EQ(FileTimeToUnix(kUnixEpoch - kSecond), 0xFFFFFFFFu);  // -1, for readers of signed seconds
  EXPECT_EQ(FileTimeToUnix(kUnixEpoch - kSecond / 2), 0u);       // truncated toward zero
}

TEST(Times, DosStampsHoldLocalTime) {
  const char* old = ::getenv("TZ");
  const std::string saved = old ? old : "";
  ::setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);  // Central Europe, without zone files
  uint16_t date = 0, time = 0;
  platform::FileTime back = 0;
  const platform::FileTime summer = UnixToFileTime(1719835200);  // 2024-07-01 12:00:00 UTC
  EXPECT_TRUE(FileTimeToDosDateTime(summer + kSecond + 1234, date, time));
  EXPECT_TRUE(date == DosDate(2024, 7, 1) && time == DosTime(14, 0, 0));  // odd second and fraction dropped
  EXPECT_TRUE(DosDateTimeToFileTime(date, time, back) && back == summer);
  // Every stamp outside the hour that clocks skip or repeat comes back unchanged.
  for (int year = 1980; year <= 2107; year += 3) {
    for (int month = 1; month <= 12; ++month) {
      for (uint16_t t : {DosTime(0, 0, 0), DosTime(12, 34, 56), DosTime(23, 59, 58)}) {
        const uint16_t d = DosDate(year, month, month == 2 && year % 4 == 0 && year != 2100 ? 29 : 28);
        EXPECT_TRUE(DosDateTimeToFileTime(d, t, back) && FileTimeToDosDateTime(back, date, time));
        EXPECT_TRUE(date == d && time == t) << year << "-" << month;
      }
    }
  }
  EXPECT_TRUE(DosDateTimeToFileTime(DosDate(1980, 1, 1), 0, back) &&
              !FileTimeToDosDateTime(back - 1, date, time));
  EXPECT_TRUE(DosDateTimeToFileTime(DosDate(2107, 12, 31), DosTime(23, 59, 58), back));
  EXPECT_FALSE(FileTimeToDosDateTime(back + 2 * kSecond, date, time));
  for (auto [d, t] : {std::pair{DosDate(2021, 2, 29), 0},
                      {DosDate(2020, 13, 1), 0},
                      {DosDate(2020, 1, 1), 24 << 11},
                      {DosDate(2020, 1, 1), 60 << 5},
                      {DosDate(2020, 1, 1), 30}}) {
    EXPECT_FALSE(DosDateTimeToFileTime(d, static_cast<uint16_t>(t), back)) << d << " " << t;
  }
  old ? ::setenv("TZ", saved.c_str(), 1) : ::unsetenv("TZ");
  ::tzset();
}

TEST(Listing, NamesShowControlsEscaped) {
  std::string text;
  EXPECT_TRUE(ListingName(u"a\r\n2024-01-01 fake\x1b[2J\x9b\\\u00e9\x7f", text));
  EXPECT_EQ(text, "a\\x0D\\x0A2024-01-01 fake\\x1B[2J\\x9B\\\xC3\xA9\\x7F");
  EXPECT_FALSE(ListingName(u"x\xD800", text)) << "a name that is not UTF-16 is refused, not shown";
}

TEST(Listing, AppendsOnlyWhatFits) {
  char buffer[16] = "";
  uint32_t remaining = sizeof buffer;
  EXPECT_TRUE(AppendListing(buffer, remaining, "hello\r\n") == 0 && remaining == 9);
  EXPECT_EQ(AppendListing(buffer, remaining, "123456789"), 0x00280000u);  // its zero would not fit
  EXPECT_TRUE(AppendListing(buffer, remaining, "12345678") == 0 && remaining == 1);
  EXPECT_TRUE(AppendListing(buffer, remaining, "x") == 0x00280000 &&
              std::string(buffer) == "hello\r\n12345678");
  size_t used = 2;  // the caller's own count of the text, trusted over a scan
  EXPECT_TRUE(AppendListing(buffer, remaining = 6, "cd", &used) == 0 && used == 4 && remaining == 4);
  EXPECT_STREQ(buffer, "hecd");
}

}  // namespace
}  // namespace tx::frame
