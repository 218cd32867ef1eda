// Listings and volumes through the exports.
#include <array>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#include "pea/pea_test.h"

namespace tx::test {
namespace {

const std::string kRule =
    "---------- -------- ---- ------ ------------ ------------ ------------------------\r\n";
const std::string kHead = "\r\n   Date      Time   Attr Method        Size   Packed size  Name\r\n";

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
  char text[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

std::string Totals(uint64_t files, uint64_t folders, uint64_t size, uint64_t packed) {
  return Format(" %7" PRIu64 " files %7" PRIu64 " folders %13" PRIu64 "%13" PRIu64 "\r\n\r\n", files, folders,
                size, packed);
}

// The packed size of every object, as the independent reader counts it.
std::vector<uint64_t> PackedSizes(const std::string& archive, const std::string& password) {
  std::string json;
  EXPECT_EQ(Reader(Quote(archive) + " --json --password " + Quote(password), &json), 0) << json;
  std::vector<uint64_t> sizes;
  const std::string key = "\"packed_size\": ";
  for (size_t at = json.find(key); at != std::string::npos; at = json.find(key, at + 1))
    sizes.push_back(std::stoull(json.substr(at + key.size())));
  return sizes;
}

TEST(PeaList, LayoutRulesTotalsAndChecks) {
  TempDir dir;
  fs::create_directories(dir / "src/sub");
  // Stored name, content, attribute field and method field, in archive order.
  std::vector<std::array<std::string, 4>> objects;
  for (int i = 1; i <= 20; ++i)
    objects.push_back({Format("f%02d", i), std::string(100 * i, 'a' + i), "   A ", "Normal"});
  objects.push_back({"sub\\", "", "     ", "Folder"});
  objects.push_back({"sub\\ro.txt", std::string(1000, 'r'), "R  A ", "Normal"});
  objects.push_back({"zero.txt", "", "   A ", "Copy  "});
  for (auto it = objects.rbegin(); it != objects.rend(); ++it) {  // a folder's time after its files
    const auto& [name, content, attributes, method] = *it;
    fs::path path = dir / ("src/" + (name.starts_with("sub\\") ? "sub/" + name.substr(4) : name));
    if (method != "Folder") WriteFile(path, content);
    if (attributes[0] == 'R') fs::permissions(path, fs::perms::owner_read);
    SetTime(path, kSummer);
  }
  std::string archive = dir / "a.pea";
  ASSERT_EQ(Pack(archive, dir / "src/*", PackOptions(2, 2, 49, 19, 48), "pw"), 0u);
  std::vector<uint64_t> packed = PackedSizes(archive, "pw");
  ASSERT_EQ(packed.size(), objects.size());

  std::string want =
      "Archive : " + archive + "\r\nSize    : " + std::to_string(fs::file_size(archive)) + "\r\n" + kHead;
  uint64_t size = 0, packed_size = 0;
  for (size_t i = 0; i < objects.size(); ++i) {
    const auto& [name, content, attributes, method] = objects[i];
    want += (i % 10 == 0 ? kRule : "") + "2021-07-15 13:45:31 " + attributes + method;
    want += method == "Folder" ? Format("             %13" PRIu64 " ", packed[i])
                               : Format("%13zu%13" PRIu64 " ", content.size(), packed[i]);
    want += name + "\r\n";
    size += content.size();
    packed_size += packed[i];
  }
  want += kRule + Totals(objects.size() - 1, 1, size, packed_size) +
          "Volume  : Volume control tag (CRC32) is OK\r\n"
          "Stream  : Stream control tag (AES-128 & OMAC-AES) is OK\r\n"
          "Object  : Object control tag (SHA-256)\r\n";
  uint32_t code;
  EXPECT_EQ(List(archive, "pw", uint32_t(want.size() + 1), &code), want);
  EXPECT_EQ(code, 0u);

  // Too small: the pieces that fitted stay, with their terminating zero inside the buffer.
  for (size_t room : {size_t{1}, size_t{10}, size_t{11}, size_t{40}, want.size() / 2, want.size()}) {
    std::string got = List(archive, "pw", uint32_t(room), &code);
    EXPECT_EQ(code, 0x00280000u) << room;
    EXPECT_LT(got.size(), room);
    EXPECT_EQ(want.compare(0, got.size(), got), 0) << room;
  }
  EXPECT_GE(List(archive, "pw", uint32_t(want.size()), &code).size(), want.find("Object  : "));
  // A wrong password leaves the buffer as it was.
  EXPECT_EQ(List(archive, "pq", 4096, &code), std::string(4097, 'Z'));
  EXPECT_EQ(code, 0x00410000u);
}

TEST(PeaList, DamageIsReportedInTheTextAndMissingChecksShowNone) {
  TempDir dir;
  WriteFile(dir / "a.bin", RandomBytes(4000, 3));
  std::string archive = dir / "a.pea";
  ASSERT_EQ(Pack(archive, dir / "a.bin", PackOptions(0, 2, 2, 2)), 0u);
  std::string bytes = ReadFile(archive);
  bytes[20 + 2 + 5 + 16 + 2000] ^= 1;
  WriteFile(archive, bytes);
  uint32_t code;
  std::string text = List(archive, "", 4096, &code);
  EXPECT_EQ(code, 0u);
  const std::string tail =
      "Volume  : Volume control tag (CRC32) is wrong\r\n"
      "Stream  : Stream control tag (CRC32) is wrong\r\n"
      "Object  : Object control tag (CRC32)\r\n";
  EXPECT_EQ(text.substr(text.size() - std::min(text.size(), tail.size())), tail);
  EXPECT_NE(text.find("   A Copy           4000         4000 a.bin\r\n"), std::string::npos) << text;

  WriteFile(archive, Crafted().End());
  EXPECT_EQ(List(archive, "", 4096, &code), "Archive : " + archive + "\r\nSize    : 26\r\n" + kHead + kRule +
                                                Totals(0, 0, 0, 0) +
                                                "Volume  : None\r\nStream  : None\r\nObject  : None\r\n");
  EXPECT_EQ(code, 0u);
}

std::string VolumeName(const TempDir& dir, int number) { return dir / Format("base.%06d.pea", number); }

TEST(PeaVolumes, SplitThenJoinFromAnyVolumeReproducesTheArchive) {
  TempDir dir;
  WriteFile(dir / "data", RandomBytes(5000, 5));
  std::string archive = dir / "base.pea";
  ASSERT_EQ(Pack(archive, dir / "data", PackOptions(0, 2, 19, 2)), 0u);
  const std::string original = ReadFile(archive);
  const uint32_t split[3] = {0, 0, 1024}, join[2] = {0, 0};
  ASSERT_EQ(pea_split(nullptr, archive.c_str(), nullptr, split), 0u);
  const size_t count = (original.size() - 4 + 1019) / 1020;
  ASSERT_GE(count, 4u);
  for (size_t n = 1; n <= count; ++n)
    EXPECT_EQ(fs::file_size(VolumeName(dir, int(n))), n < count ? 1024 : original.size() - 1020 * (count - 1))
        << n;
  EXPECT_FALSE(fs::exists(VolumeName(dir, int(count + 1))));
  std::string report;
  EXPECT_EQ(Reader("--volumes " + Quote(VolumeName(dir, 1)), &report), 0) << report;

  for (std::string from : {VolumeName(dir, 3), archive}) {
    fs::remove(archive);
    ASSERT_EQ(pea_join(nullptr, from.c_str(), nullptr, join), 0u) << from;
    EXPECT_TRUE(ReadFile(archive) == original) << from;
  }
  // A gap ends the set after volume 2.
  fs::remove(VolumeName(dir, 3));
  ASSERT_EQ(pea_join(nullptr, VolumeName(dir, 1).c_str(), nullptr, join), 0u);
  std::string joined = ReadFile(archive);
  EXPECT_EQ(joined.size(), 2 * 1020 + 4u);
  EXPECT_TRUE(joined.compare(0, 2040, original, 0, 2040) == 0);
}

TEST(PeaVolumes, ExactSlicesWithoutVolumeCheckAndOneVolumeWhenItFits) {
  TempDir dir;
  fs::create_directories(dir / "vols");
  WriteFile(dir / "data", RandomBytes(3000, 6));
  std::string archive = dir / "base.pea";
  ASSERT_EQ(Pack(archive, dir / "data", PackOptions(0, 0, 2, 2)), 0u);
  const std::string original = ReadFile(archive);
  const uint32_t small[3] = {0, 0, 1023}, split[3] = {0, 1, 1024}, join[2] = {0, 1};
  EXPECT_EQ(pea_split(nullptr, archive.c_str(), (dir / "vols").c_str(), small), 0x00020002u);
  ASSERT_EQ(pea_split(nullptr, archive.c_str(), (dir / "vols").c_str(), split), 0u);
  EXPECT_FALSE(fs::exists(archive));
  std::string concatenated;
  for (const auto& [name, volume] : Tree(dir / "vols")) concatenated += volume;
  EXPECT_EQ(Tree(dir / "vols").size(), (original.size() + 1023) / 1024);
  EXPECT_TRUE(concatenated == original);  // whole slices of 1024 bytes, then the rest
  // Joining deletes the volumes when asked.
  ASSERT_EQ(pea_join(nullptr, (dir / "vols/base.000002.pea").c_str(), nullptr, join), 0u);
  EXPECT_TRUE(ReadFile(dir / "vols/base.pea") == original);
  EXPECT_EQ(Tree(dir / "vols").size(), 1u);

  // With a volume check, an archive that fits is one volume equal to the archive.
  ASSERT_EQ(Pack(archive, dir / "data", PackOptions(0, 2, 2, 2)), 0u);
  const uint32_t large[3] = {0, 0, 1 << 20};
  ASSERT_EQ(pea_split(nullptr, archive.c_str(), nullptr, large), 0u);
  EXPECT_TRUE(ReadFile(VolumeName(dir, 1)) == ReadFile(archive));
  EXPECT_FALSE(fs::exists(VolumeName(dir, 2)));
}

}  // namespace
}  // namespace tx::test
