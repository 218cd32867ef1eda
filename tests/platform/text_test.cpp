#include "platform/text.h"

#include <gtest/gtest.h>

#include <string>

namespace tx::platform {
namespace {

TEST(Text, StrictUtf8AndWidePathLimit) {
  char16_t out[8];
  // Overlong forms, surrogates, values above U+10FFFF, truncated and stray bytes.
  for (const char* bad : {"\xC0\xAF", "\xE0\x80\xAF", "\xF0\x80\x80\xAF", "\xED\xA0\x80", "\xED\xBF\xBF",
                          "\xF4\x90\x80\x80", "\xF8\x88\x80\x80\x80", "a\xE2\x82", "\xE2\x82z", "\x80"}) {
    out[0] = u'x';
    EXPECT_FALSE(Utf8ToUtf16(bad, out, 8)) << testing::PrintToString(std::string(bad));
    EXPECT_EQ(out[0], 0);
  }
  ASSERT_TRUE(Utf8ToUtf16("a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF", out, 8));
  EXPECT_EQ(std::u16string(out), (std::u16string{u'a', 0xE9, 0x20AC, 0xD83D, 0xDE00, 0xDBFF, 0xDFFF}));
  std::string utf8;
  ASSERT_TRUE(Utf16ToUtf8(out, utf8));
  EXPECT_EQ(utf8, "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF");
  for (std::u16string bad :
       {std::u16string{0xD800, u'x'}, std::u16string{u'x', 0xDC00}, std::u16string{0xDBFF}}) {
    EXPECT_FALSE(Utf16ToUtf8(bad.c_str(), utf8));
  }

  WidePath path;
  const std::string emoji = "\xF0\x9F\x98\x80";  // two units
  EXPECT_TRUE(Utf8ToUtf16(std::string(1023, 'a').c_str(), path.units, kWidePathUnits));
  EXPECT_TRUE(Utf8ToUtf16((std::string(1021, 'a') + emoji).c_str(), path.units, kWidePathUnits));
  EXPECT_EQ(path.length(), 1023u);
  EXPECT_FALSE(Utf8ToUtf16(std::string(1024, 'a').c_str(), path.units, kWidePathUnits));
  EXPECT_TRUE(path.empty());
  EXPECT_FALSE(Utf8ToUtf16((std::string(1022, 'a') + emoji).c_str(), path.units, kWidePathUnits));
}

}  // namespace
}  // namespace tx::platform
