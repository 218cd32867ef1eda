// Archives built to make a small file extract into a large one: members that share bytes,
// members that decode to another size than they declare, and compressed directories that
// claim more than they hold.
#include <gtest/gtest.h>

#include "zip_test.h"

namespace tx::test {
namespace {

namespace fs = std::filesystem;

uint32_t Get32(const std::string& s, size_t at) {
  return static_cast<uint8_t>(s[at]) | static_cast<uint8_t>(s[at + 1]) << 8 |
         static_cast<uint8_t>(s[at + 2]) << 16 | static_cast<uint32_t>(static_cast<uint8_t>(s[at + 3])) << 24;
}

// `members` with the central directory compressed (method 8 or 12) behind a version 2
// Zip64 record, which claims `original` bytes for it; `junk` follows the compressed stream.
std::string CompressedDirectory(const std::vector<Member>& members, uint16_t method,
                                std::optional<uint32_t> original = {}, const std::string& junk = "") {
  std::string plain = BuildZip(members);
  uint32_t size = Get32(plain, plain.size() - 10), offset = Get32(plain, plain.size() - 6);
  std::string central = plain.substr(offset, size);
  std::string packed = (method == 8 ? RawDeflate(central) : Bzip2(central)) + junk;
  std::string out = plain.substr(0, offset) + packed;
  uint64_t record = out.size();
  Put32(out, 0x06064b50), Put64(out, 76), Put16(out, 62), Put16(out, 62), Put32(out, 0), Put32(out, 0);
  Put64(out, 0), Put64(out, members.size()), Put64(out, packed.size()), Put64(out, offset);
  Put16(out, method), Put64(out, packed.size()), Put64(out, original ? *original : central.size());
  Put16(out, 0), Put16(out, 0), Put16(out, 0), Put16(out, 1), Put16(out, 4), Put32(out, Crc(central));
  Put32(out, 0x07064b50), Put32(out, 0), Put64(out, record), Put32(out, 1);
  Put32(out, 0x06054b50), Put32(out, 0), Put16(out, 0), Put16(out, 0xFFFF);
  Put32(out, static_cast<uint32_t>(packed.size())), Put32(out, 0xFFFFFFFFu), Put16(out, 0);
  return out;
}

using Damage = ZipScratch;

TEST_F(Damage, MembersThatShareBytesAreRefused) {
  Member a{.name = "a", .data = "first member"}, b{.name = "b", .data = "second"};
  std::string out = Out(), text;
  // Two records naming one local header, as a zip bomb repeats it thousands of times.
  std::string same = Save(BuildZip({a, {.name = "b", .data = "first member", .offset = 0}}));
  EXPECT_EQ(Unpack2(same, out), 0x00601601u);
  EXPECT_EQ(List(same, text), 0u) << "listing reads no member data";
  // The first member's data covers the second's local header.
  EXPECT_EQ(Unpack2(Save(BuildZip({{.name = "a", .data = "x", .compressed = 40}, b})), out), 0x00601601u);
  // Into the directory, or starting inside it.
  std::string into = Save(BuildZip({{.name = "a", .data = "abc", .compressed = 10}}));
  EXPECT_EQ(Unpack2(into, out), 0x00601602u);
  EXPECT_EQ(Unpack1(into, out), 0x00601602u);
  EXPECT_EQ(Unpack2(Save(BuildZip({a, {.name = "b", .offset = 75}})), out), 0x00601602u);
  // The fixed parts fit, but the local header's extra field pushes the data over the next
  // member: found once that header is read, before anything is written.
  std::string bytes = BuildZip({a, b});
  bytes[28] = 8;
  EXPECT_EQ(Unpack2(Save(bytes), out), 0x00601603u);
  EXPECT_TRUE(fs::is_empty(out));
  // Gaps between members (descriptors, padding) are fine.
  std::string gapped = BuildZip({a, {.name = "b", .data = "second", .offset = 47}});
  gapped.insert(43, "gap!");
  gapped.replace(gapped.size() - 6, 4, std::string("\x54\0\0\0", 4));  // the directory moved by 4
  EXPECT_EQ(Unpack2(Save(gapped), out), 0u);
  EXPECT_EQ(Tree(out), (std::map<std::string, std::string>{{"a", a.data}, {"b", b.data}}));
}

TEST_F(Damage, MembersMustDecodeToTheirDeclaredSize) {
  const std::string text(100000, 'z');
  Member good{.name = "good", .data = "fine"};
  struct Case {
    Member member;
    uint32_t code;
  } cases[] = {
      {{.name = "bomb", .data = text, .method = 8, .uncompressed = 1000}, 0x00311903},
      {{.name = "bz", .data = text, .method = 12, .uncompressed = 99999}, 0x00311903},
      {{.name = "ae2", .data = text, .method = 8, .aes = 2, .password = "pw", .uncompressed = 10}, 0x00311903},
      {{.name = "short", .data = text, .method = 8, .uncompressed = 100001}, 0x00311904},
      {{.name = "store", .data = "abc", .uncompressed = 2}, 0x00311903},
      {{.name = "store0", .data = "abc", .uncompressed = 4}, 0x00311904},
      {{.name = "tail", .data = text, .method = 8, .stored = RawDeflate(text) + "junk"}, 0x00311905},
      {{.name = "bztail", .data = text, .method = 12, .stored = Bzip2(text) + Bzip2("x")}, 0x00311905},
      {{.name = "cut", .data = text, .method = 8, .stored = RawDeflate(text).substr(0, 50)}, 0x00311912},
  };
  for (const Case& c : cases) {
    std::string out = Out(), archive = Save(BuildZip({c.member}));
    EXPECT_EQ(Unpack1(archive, out, "pw"), c.code) << c.member.name;
    EXPECT_EQ(Unpack2(Save(BuildZip({good, c.member})), out, "pw"), c.code) << c.member.name;
    EXPECT_FALSE(fs::exists(out + "/" + c.member.name)) << c.member.name;
    EXPECT_EQ(ReadFile(out + "/good"), "fine");
  }
  // The damage is one the user may pass over.
  ScriptedUi ui;
  ui.dialogs.AnswerNotice(1);
  std::string out = Out();
  EXPECT_EQ(Unpack2(Save(BuildZip({cases[0].member, good})), out, nullptr, TESSAREX_FLAG_ASK_ON_ERROR), 0u);
  EXPECT_FALSE(fs::exists(out + "/bomb"));
  EXPECT_EQ(ReadFile(out + "/good"), "fine");
  ASSERT_EQ(ui.dialogs.record().notices.size(), 1u);
  EXPECT_NE(ui.dialogs.record().notices[0].path.find("bomb"), std::string::npos);
}

TEST_F(Damage, CompressedDirectoryTakesOnlyWhatItYields) {
  // Enough members that the directory outgrows the first steps of its buffer.
  std::vector<Member> members;
  for (int i = 0; i < 1000; ++i) members.push_back({.name = std::string(90, 'n') + std::to_string(i), .data = "m"});
  for (uint16_t method : {8, 12}) {
    std::string archive = Save(CompressedDirectory(members, method)), text, out = Out();
    ASSERT_EQ(List(archive, text), 0u) << method;
    EXPECT_NE(text.find("     1000 files "), std::string::npos);
    ASSERT_EQ(Unpack2(archive, out, nullptr, 0, "*699"), 0u);
    EXPECT_EQ(Tree(out), (std::map<std::string, std::string>{{std::string(90, 'n') + "699", "m"}}));
  }
  std::string text;
  const std::string claims_more = Save(CompressedDirectory(members, 8, 200u << 20, std::string(60000, 'j')));
  const std::string claims_less = Save(CompressedDirectory(members, 8, 1000));
  const std::string beyond_limit = Save(CompressedDirectory(members, 8, 257u << 20, std::string(70000, 'j')));
  for (const std::string& archive : {claims_more, claims_less}) {
    EXPECT_EQ(Unpack2(archive, Out()), 0x00331401u);
    EXPECT_EQ(List(archive, text), 0x00331401u);
  }
  EXPECT_EQ(Unpack2(beyond_limit, Out()), 0x00201403u);
  EXPECT_EQ(List(beyond_limit, text), 0x00201403u);
}

}  // namespace
}  // namespace tx::test
