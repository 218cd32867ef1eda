// Splits and joins that fail, or that meet volumes of an earlier split, keep every file
// that still matters and report the failure.
#include <cstdio>

#include "pea/pea_test.h"

namespace tx::test {
namespace {

std::string Volume(const TempDir& dir, const std::string& base, int number) {
  char suffix[16];
  std::snprintf(suffix, sizeof suffix, ".%06d.pea", number);
  return dir / (base + suffix);
}

// An archive of `size` random bytes of data with a CRC-32 volume check, so volumes of 1024
// bytes carry 1020 bytes each.
std::string MakeArchive(const TempDir& dir, const std::string& name, size_t size, unsigned seed) {
  WriteFile(dir / "data", RandomBytes(size, seed));
  std::string archive = dir / name;
  EXPECT_EQ(Pack(archive, dir / "data", PackOptions(0, 2, 19, 2)), 0u);
  return archive;
}

TEST(PeaVolumeSafety, AJoinThatCannotReadEveryVolumeKeepsNothingAndDeletesNothing) {
  TempDir dir;
  std::string archive = MakeArchive(dir, "base.pea", 5000, 7);
  const std::string original = ReadFile(archive);
  const uint32_t split[3] = {0, 0, 1024}, join_delete[2] = {0, 1};
  ASSERT_EQ(pea_split(nullptr, archive.c_str(), nullptr, split), 0u);
  fs::remove(archive);
  ASSERT_TRUE(fs::exists(Volume(dir, "base", 5)));

  // Volume 3 is counted (something has its name) but cannot be opened as a file.
  const std::string third = ReadFile(Volume(dir, "base", 3));
  fs::remove(Volume(dir, "base", 3));
  fs::create_directory(Volume(dir, "base", 3));
  EXPECT_EQ(pea_join(nullptr, Volume(dir, "base", 1).c_str(), nullptr, join_delete), 0x01020003u);
  EXPECT_FALSE(fs::exists(archive)) << "no short archive is kept";
  for (int n : {1, 2, 4, 5}) EXPECT_TRUE(fs::exists(Volume(dir, "base", n))) << n;

  // Whole again: the join succeeds and only then are the volumes deleted.
  fs::remove(Volume(dir, "base", 3));
  WriteFile(Volume(dir, "base", 3), third);
  ASSERT_EQ(pea_join(nullptr, Volume(dir, "base", 4).c_str(), nullptr, join_delete), 0u);
  EXPECT_TRUE(ReadFile(archive) == original);
  EXPECT_EQ(Tree(dir.path()).size(), 2u) << "base.pea and data remain";
}

TEST(PeaVolumeSafety, ASplitLeavesNoOlderVolumesBeyondItsLast) {
  TempDir dir;
  const uint32_t split[3] = {0, 0, 1024}, split_delete[3] = {0, 1, 1024}, join[2] = {0, 0};
  std::string big = MakeArchive(dir, "base.pea", 5000, 8);
  ASSERT_EQ(pea_split(nullptr, big.c_str(), nullptr, split), 0u);
  ASSERT_TRUE(fs::exists(Volume(dir, "base", 5)));
  WriteFile(Volume(dir, "base", 9), "beyond a gap, never joined");

  std::string small = MakeArchive(dir, "base.pea", 1500, 9);
  const std::string original = ReadFile(small);
  ASSERT_EQ(pea_split(nullptr, small.c_str(), nullptr, split_delete), 0u);
  EXPECT_FALSE(fs::exists(small)) << "deleted after its volumes";
  EXPECT_TRUE(fs::exists(Volume(dir, "base", 2)));
  for (int n : {3, 4, 5}) EXPECT_FALSE(fs::exists(Volume(dir, "base", n))) << n;
  ASSERT_EQ(pea_join(nullptr, Volume(dir, "base", 1).c_str(), nullptr, join), 0u);
  EXPECT_TRUE(ReadFile(small) == original) << "the new set alone is joined";

  // An archive named like a volume of its own set is never overwritten or removed.
  std::string first = MakeArchive(dir, "one.000001.pea", 3000, 10);
  EXPECT_EQ(pea_split(nullptr, first.c_str(), nullptr, split), 0x00100001u);
  EXPECT_TRUE(fs::exists(first) && !fs::exists(Volume(dir, "one", 2)));
  std::string fourth = MakeArchive(dir, "two.000004.pea", 1500, 11);
  WriteFile(Volume(dir, "two", 3), "stale");
  ASSERT_EQ(pea_split(nullptr, fourth.c_str(), nullptr, split), 0u);
  EXPECT_TRUE(!fs::exists(Volume(dir, "two", 3)) && fs::exists(fourth));
}

}  // namespace
}  // namespace tx::test
