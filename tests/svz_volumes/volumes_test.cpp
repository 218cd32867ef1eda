// Splitting files into 7z volumes and joining them: the bytes round-trip, 7-Zip reads our
// sets, and failed or cancelled calls keep every file that existed before.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "scripted_ui.h"
#include "tessarex.h"
#include "test_support.h"

namespace tx::test {
namespace {

namespace fs = std::filesystem;

std::string Volume(const std::string& base, int number) {
  char suffix[8];
  std::snprintf(suffix, sizeof suffix, ".%03d", number);
  return base + suffix;
}

uint32_t Split(const std::string& path, uint32_t size, const char* dir = nullptr, uint32_t flags = 0,
               uint32_t remove = 0) {
  const uint32_t options[3] = {flags, remove, size};
  return svz_split(nullptr, path.c_str(), dir, options);
}

uint32_t Join(const std::string& path, const char* dir = nullptr, uint32_t flags = 0, uint32_t remove = 0) {
  const uint32_t options[2] = {flags, remove};
  return svz_join(nullptr, path.c_str(), dir, options);
}

// Files in `dir` (temporary files of ours included, which must not be left behind).
size_t CountFiles(const fs::path& dir) {
  size_t n = 0;
  for (const auto& entry : fs::directory_iterator(dir)) n += entry.is_regular_file() ? 1 : 0;
  return n;
}

TEST(SvzVolumes, SplitThenJoinGivesTheFileBack) {
  struct Case {
    size_t size;
    std::vector<size_t> volumes;
  } cases[] = {{0, {0}}, {1023, {1023}}, {1024, {1024}}, {2500, {1024, 1024, 452}}};
  for (const Case& c : cases) {
    TempDir dir;
    fs::create_directory(dir / "vol");
    const std::string data = RandomBytes(c.size, static_cast<unsigned>(c.size));
    WriteFile(dir / "data.7z", data);
    ASSERT_EQ(Split(dir / "data.7z", 1024, (dir / "vol").c_str(), 0, 1), 0u) << c.size;
    EXPECT_FALSE(fs::exists(dir / "data.7z")) << "deleted when asked, after its volumes";
    const std::string base = dir / "vol/data.7z";
    for (size_t i = 0; i < c.volumes.size(); ++i)
      EXPECT_EQ(fs::file_size(Volume(base, static_cast<int>(i + 1))), c.volumes[i]) << c.size << " " << i;
    EXPECT_EQ(CountFiles(dir / "vol"), c.volumes.size());

    // Joined from any volume into the folder given, which is where the volumes are looked for.
    ASSERT_EQ(Join(dir / ("x/data.7z." + std::string(c.volumes.size() > 1 ? "002" : "001")),
                   (dir / "vol").c_str(), 0, 1),
              0u);
    EXPECT_TRUE(ReadFile(base) == data) << c.size;
    EXPECT_EQ(CountFiles(dir / "vol"), 1u) << "volumes deleted when asked";
  }
}

TEST(SvzVolumes, TheVolumeNumberingLimitsTheSet) {
  TempDir dir;
  const std::string data = RandomBytes(999 * 1024, 5);
  WriteFile(dir / "big", data);
  ASSERT_EQ(Split(dir / "big", 1024), 0u);
  EXPECT_TRUE(fs::exists(dir / "big.999"));
  fs::rename(dir / "big", dir / "original");
  ASSERT_EQ(Join(dir / "big.001"), 0u) << "a full set of 999 is joined";
  EXPECT_TRUE(ReadFile(dir / "big") == data);

  TempDir other;
  WriteFile(other / "big", data + "x");
  EXPECT_EQ(Split(other / "big", 1024), 0x00180000u);
  EXPECT_EQ(Split(other / "big", 1023), 0x00020002u);
  EXPECT_EQ(CountFiles(other.path()), 1u);
}

TEST(SvzVolumes, SevenZipOpensOurVolumesOfItsArchive) {
  TempDir dir;
  fs::create_directories(dir / "src/sub");
  WriteFile(dir / "src/a.bin", RandomBytes(6000, 1));
  WriteFile(dir / "src/sub/b.txt", std::string(3000, 'b'));
  ASSERT_EQ(Peer("cd " + Quote(dir / "src") + " && 7zz a -bd -mx=1 " + Quote(dir / "archive.7z") + " ."), 0);
  const std::string archive = ReadFile(dir / "archive.7z");
  ASSERT_GT(archive.size(), 3 * 1024u);
  fs::create_directory(dir / "vol");
  ASSERT_EQ(Split(dir / "archive.7z", 1024, (dir / "vol").c_str()), 0u);
  std::string out;
  ASSERT_EQ(Peer("7zz x -bd -o" + Quote(dir / "out") + " " + Quote(dir / "vol/archive.7z.001"), &out), 0)
      << out;
  EXPECT_TRUE(ReadFile(dir / "out/a.bin") == ReadFile(dir / "src/a.bin"));
  EXPECT_TRUE(ReadFile(dir / "out/sub/b.txt") == ReadFile(dir / "src/sub/b.txt"));
  ASSERT_EQ(Join(dir / "vol/archive.7z.001"), 0u);
  EXPECT_TRUE(ReadFile(dir / "vol/archive.7z") == archive);
}

TEST(SvzVolumes, ASplitKeepsAnEarlierSetUntilItsOwnIsComplete) {
  TempDir dir;
  const std::string first = RandomBytes(5000, 2), second = RandomBytes(2000, 3);
  WriteFile(dir / "f", first);
  ASSERT_EQ(Split(dir / "f", 1024), 0u);
  std::vector<std::string> old;
  for (int n = 1; n <= 5; ++n) old.push_back(ReadFile(Volume(dir / "f", n)));

  WriteFile(dir / "f", second);
  {
    // Cancelled as the second volume begins: the earlier set is left exactly as it was.
    ScriptedUi ui;
    ui.dialogs.PressAt(4, ui::ProgressEvent::Cancel);
    EXPECT_EQ(Split(dir / "f", 1024, nullptr, TESSAREX_FLAG_PROGRESS, 1), 0x00900002u);
  }
  for (int n = 1; n <= 5; ++n) EXPECT_TRUE(ReadFile(Volume(dir / "f", n)) == old[n - 1]) << n;
  EXPECT_EQ(CountFiles(dir.path()), 6u) << "no temporary volume is left";
  EXPECT_TRUE(ReadFile(dir / "f") == second);

  // A complete split replaces the set and removes the older volumes beyond it.
  ASSERT_EQ(Split(dir / "f", 1024, nullptr, 0, 1), 0u);
  EXPECT_FALSE(fs::exists(dir / "f"));
  EXPECT_TRUE(fs::exists(Volume(dir / "f", 2)) && !fs::exists(Volume(dir / "f", 3)));
  ASSERT_EQ(Join(dir / "f"), 0u);
  EXPECT_TRUE(ReadFile(dir / "f") == second);
}

TEST(SvzVolumes, AFailedJoinKeepsTheTargetAndEveryVolume) {
  TempDir dir;
  WriteFile(dir / "a.7z", RandomBytes(5000, 4));
  ASSERT_EQ(Split(dir / "a.7z", 1024), 0u);
  const std::string previous = "an older a.7z";
  WriteFile(dir / "a.7z", previous);
  auto all_kept = [&](const char* what, size_t files) {
    EXPECT_TRUE(ReadFile(dir / "a.7z") == previous) << what;
    for (int n : {1, 2, 4, 5}) EXPECT_TRUE(fs::is_regular_file(Volume(dir / "a.7z", n))) << what << n;
    EXPECT_EQ(CountFiles(dir.path()), files) << what << ": no temporary file is left";
  };
  const std::string third = ReadFile(Volume(dir / "a.7z", 3));

  fs::remove(Volume(dir / "a.7z", 3));
  EXPECT_EQ(Join(Volume(dir / "a.7z", 1), nullptr, 0, 1), 0x00180000u);
  all_kept("gap", 5);

  // Counted (something has its name) but not readable as a file.
  fs::create_directory(Volume(dir / "a.7z", 3));
  EXPECT_EQ(Join(Volume(dir / "a.7z", 1), nullptr, 0, 1), 0x01020001u);
  all_kept("unreadable volume", 5);
  fs::remove(Volume(dir / "a.7z", 3));
  WriteFile(Volume(dir / "a.7z", 3), third);

  // Turns of the progress pump: 1 opening, then per volume its opening and its copying.
  const std::pair<unsigned, uint32_t> cancels[] = {{1, 0x00900001}, {4, 0x00900002}, {5, 0x00900003}};
  for (const auto& [turn, code] : cancels) {
    ScriptedUi ui;
    ui.dialogs.PressAt(turn, ui::ProgressEvent::Cancel);
    EXPECT_EQ(Join(Volume(dir / "a.7z", 1), nullptr, TESSAREX_FLAG_PROGRESS, 1), code) << turn;
    all_kept("cancel", 6);
  }
  EXPECT_EQ(Join(Volume(dir / "a.7z", 1), nullptr, 0, 0), 0u);
  EXPECT_EQ(fs::file_size(dir / "a.7z"), 5000u);
}

TEST(SvzVolumes, TheCommandSplitsAndJoins) {
  TempDir dir;
  const std::string data = RandomBytes(3000, 6);
  WriteFile(dir / "c.7z", data);
  fs::create_directory(dir / "v");
  const std::string cli = TX_CLI_PATH;
  ASSERT_EQ(Peer(cli + " 7z split " + Quote(dir / "c.7z") + " --to " + Quote(dir / "v") +
                 " --volume-size 1024 --delete-source"),
            0);
  EXPECT_FALSE(fs::exists(dir / "c.7z"));
  EXPECT_EQ(fs::file_size(dir / "v/c.7z.003"), 952u);
  ASSERT_EQ(Peer(cli + " 7z join " + Quote(dir / "v/c.7z.001") + " --delete-volumes"), 0);
  EXPECT_TRUE(ReadFile(dir / "v/c.7z") == data);
  EXPECT_EQ(CountFiles(dir / "v"), 1u);
  std::string out;
  EXPECT_NE(Peer(cli + " 7z split " + Quote(dir / "v/c.7z") + " --volume-size 1000", &out), 0);
  EXPECT_NE(out.find("0x00020002"), std::string::npos) << out;
}

}  // namespace
}  // namespace tx::test
