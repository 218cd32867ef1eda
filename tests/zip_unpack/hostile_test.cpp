// Hostile archives: unsafe names, sizes and offsets outside the file, false entry counts,
// and a walk over every truncation and many bit flips of a small archive. Every call must
// return, write nothing outside its folder and leave only complete files.
#include <gtest/gtest.h>

#include <set>

#include "zip_test.h"

namespace tx::test {
namespace {

namespace fs = std::filesystem;

class Hostile : public ::testing::Test {
 protected:
  // Runs zip_unpack2 (and zip_list) on `bytes` into sandbox/out and returns the code; the
  // sandbox holds nothing else afterwards but what landed in out.
  uint32_t Extract(const std::string& bytes, const char* password = nullptr, uint32_t flags = 0) {
    fs::remove_all(sandbox_);
    fs::create_directories(sandbox_ + "/out");
    WriteFile(archive_, bytes);
    uint32_t code = Unpack2(archive_, sandbox_ + "/out", password, flags);
    std::string text;
    List(archive_, text, 1 << 16);
    for (auto& e : fs::recursive_directory_iterator(sandbox_)) {
      std::string relative = fs::relative(e.path(), sandbox_).string();
      EXPECT_TRUE(relative == "out" || relative.rfind("out/", 0) == 0) << relative;
    }
    return code;
  }

  // The walk makes and deletes thousands of small files: in memory where that is possible.
  void SetUp() override {
    std::string pattern =
        fs::is_directory("/dev/shm") ? "/dev/shm/tessarex-zip-XXXXXX" : dir_ / "walk-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    sandbox_ = root_ + "/sandbox";
    archive_ = root_ + "/hostile.zip";
  }
  void TearDown() override { fs::remove_all(root_); }

  TempDir dir_;
  std::string root_, sandbox_, archive_;
};

TEST_F(Hostile, UnsafeNamesAreRefused) {
  const std::pair<const char*, uint32_t> names[] = {{"../evil", 0x00103102},
                                                    {"a/../../evil", 0x00103102},
                                                    {"a/..", 0x00103102},
                                                    {"..", 0x00103102},
                                                    {"/etc/x", 0x00103105},
                                                    {"C:\\x", 0x00103101},
                                                    {"\\\\server\\x", 0x00103101},
                                                    {"a\\b", 0x00103101},
                                                    {"a:b", 0x00103101},
                                                    {"a*b", 0x00103101},
                                                    {"a?b", 0x00103101},
                                                    {"a<b|c", 0x00103101},
                                                    {"a;b,c", 0x00103101},
                                                    {"a//b", 0x00103104},
                                                    {"", 0x00113101}};
  for (const auto& [name, code] : names) {
    Member bad{.name = name, .data = "evil"};
    EXPECT_EQ(Extract(BuildZip({bad})), code) << name;
    EXPECT_TRUE(fs::is_empty(sandbox_ + "/out")) << name;
    EXPECT_EQ(Unpack1(archive_, sandbox_ + "/out"), code) << name;
    bad.name += "/";  // as a folder
    EXPECT_EQ((Extract(BuildZip({bad})) >> 16 & 0xFE), 0x10) << name;
    EXPECT_TRUE(fs::is_empty(sandbox_ + "/out")) << name;
  }
  // Names that merely look odd stay inside.
  Member odd{.name = "..name/x..y/.hidden", .data = "ok"};
  EXPECT_EQ(Extract(BuildZip({odd})), 0u);
  EXPECT_EQ(Tree(sandbox_ + "/out").count("..name/x..y/.hidden"), 1u);
}

TEST_F(Hostile, SizesOffsetsAndCountsOutsideTheFile) {
  Member good{.name = "good", .data = "good data"};
  EXPECT_EQ(Extract(BuildZip({{.name = "huge", .data = "abc", .compressed = 0xFFFFFFF0u}})), 0x00601602u);
  EXPECT_TRUE(fs::is_empty(sandbox_ + "/out"));
  EXPECT_EQ(Extract(BuildZip({{.name = "far", .data = "abc", .offset = 0xFFFFFF00u}})), 0x01031201u);
  std::string zip64_offset;
  Put16(zip64_offset, 1), Put16(zip64_offset, 24), Put64(zip64_offset, 3), Put64(zip64_offset, 3);
  Put64(zip64_offset, (uint64_t{1} << 63) + 5);
  EXPECT_EQ(Extract(BuildZip(
                {{.name = "far64", .data = "abc", .central_extra = zip64_offset, .offset = 0xFFFFFFFFu}})),
            0x01050003u);
  EXPECT_EQ(Extract(BuildZip({good}, {.cd_offset = 0x7FFFFFF0u})), 0x00600000u);
  EXPECT_EQ(Extract(BuildZip({good}, {.cd_size = 0x7FFFFFF0u})), 0x00600000u);
  EXPECT_EQ(Unpack1(archive_, sandbox_ + "/out"), 0x00600002u);
  EXPECT_EQ(Extract(BuildZip({good}, {.cd_offset = 0xFFFFFFF0u, .zip64 = true})), 0x00600000u);
  EXPECT_EQ(Extract(BuildZip({good}, {.cd_size = 10})), 0x00711101u);
  EXPECT_EQ(Extract(BuildZip({good}, {.cd_size = 48})), 0x00711102u);
  // Counts that do not match the records: the block decides what is extracted.
  EXPECT_EQ(Extract(BuildZip({good, {.name = "b", .data = "2"}}, {.entries = 0xFFFF})), 0u);
  EXPECT_EQ(Tree(sandbox_ + "/out").size(), 2u);
  EXPECT_EQ(Extract(BuildZip({good}, {.entries = 0xFFFFFFFFu, .zip64 = true})), 0u);
  EXPECT_EQ(Unpack1(archive_, sandbox_ + "/out"), 0x00600001u);
  // A Store member whose size reaches into the directory is refused and leaves nothing.
  EXPECT_EQ(Extract(BuildZip({{.name = "long", .data = "abc", .compressed = 20}})), 0x00601602u);
  EXPECT_TRUE(fs::is_empty(sandbox_ + "/out"));
}

// Every truncation and, at every byte, two flips of a small archive with a folder, a
// stored, a deflated, a BZip2, an AE-2 and an empty member.
TEST_F(Hostile, TruncationAndFlipWalk) {
  std::string text;
  for (int i = 0; text.size() < 3000; ++i) text += "row " + std::to_string(i) + ";";
  std::vector<Member> members = {
      {.name = "d/", .attributes = 0x10},
      {.name = "d/stored.txt", .data = text.substr(0, 150)},
      {.name = "deflated.txt", .data = text, .method = 8},
      {.name = "b.bz2", .data = text.substr(100, 400), .method = 12},
      {.name = "x.bin", .data = RandomBytes(40, 5), .aes = 2, .key_length = 16, .password = "pw"},
      {.name = "e"}};
  std::string archive = BuildZip(members);
  std::set<std::string> contents;
  for (const Member& m : members) contents.insert(m.data);
  ASSERT_EQ(Extract(archive, "pw"), 0u);
  ASSERT_EQ(Tree(sandbox_ + "/out").size(), members.size() + 0u);

  ScriptedUi ui;
  ui::ScriptedDialogs& dialogs = ui.dialogs;
  auto check = [&](const std::string& bytes, const std::string& what) {
    for (uint32_t flags : {0u, TESSAREX_FLAG_ASK_ON_ERROR}) {
      for (int i = 0; i < 8; ++i) dialogs.AnswerNotice(1);
      Extract(bytes, "pw", flags);
      for (const auto& [name, content] : Tree(sandbox_ + "/out")) {
        if (name.back() == '/') continue;
        EXPECT_EQ(contents.count(content), 1u) << what << ": " << name;
      }
    }
  };
  for (size_t size = 0; size < archive.size(); ++size)
    check(archive.substr(0, size), "cut " + std::to_string(size));
  for (size_t at = 0; at < archive.size(); ++at) {
    for (uint8_t mask : {0x01, 0xFF}) {
      std::string flipped = archive;
      flipped[at] = static_cast<char>(flipped[at] ^ mask);
      check(flipped, "flip " + std::to_string(at) + "^" + std::to_string(mask));
    }
  }
}

}  // namespace
}  // namespace tx::test
