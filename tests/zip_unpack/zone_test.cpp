// DOS stamps with the time zone read once per call: the same stamps and times as reading it
// for every conversion, in summer and in winter of a zone with daylight saving.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <time.h>

#include <array>
#include <cstdlib>
#include <string>

#include "frame/times.h"
#include "platform/clock.h"
#include "tessarex.h"
#include "test_support.h"

namespace tx::test {
namespace {

class InZone {
 public:
  explicit InZone(const char* zone) {
    ::setenv("TZ", zone, 1);
    ::tzset();
  }
  ~InZone() {
    ::unsetenv("TZ");
    ::tzset();
  }
};

TEST(ZipZone, ZoneReadOnceConvertsAsReadingItEachTime) {
  using platform::FileTime;
  constexpr FileTime kMinute = 600000000;
  // Zones and a local time their spring change skips.
  const std::pair<const char*, platform::LocalTime> zones[] = {
      {"Europe/Berlin", {2024, 3, 31, 2, 30, 0, 0, 0}}, {"America/New_York", {2024, 3, 10, 2, 30, 0, 0, 0}}};
  for (const auto& [zone, skipped] : zones) {
    InZone in(zone);
    // Every 20 minutes of 2024, both ways: UTC to DOS stamp and the stamp back.
    FileTime start = 0, plain = 0, held = 0;
    ASSERT_TRUE(frame::DosDateTimeToFileTime((44 << 9) | (1 << 5) | 1, 0, start));
    unsigned repeated = 0;
    for (FileTime t = start; t < start + 366 * 1440 * kMinute; t += 20 * kMinute) {
      uint16_t date = 0, time = 0, held_date = 0, held_time = 0;
      ASSERT_TRUE(frame::FileTimeToDosDateTime(t, date, time));
      ASSERT_TRUE(frame::DosDateTimeToFileTime(date, time, plain));
      {
        platform::ZoneHold hold;
        ASSERT_TRUE(frame::FileTimeToDosDateTime(t, held_date, held_time));
        ASSERT_TRUE(frame::DosDateTimeToFileTime(date, time, held));
      }
      ASSERT_TRUE(date == held_date && time == held_time) << zone << " " << t;
      if (plain == held) continue;
      // A local time that occurs twice: the zone read once takes its first instant.
      ASSERT_TRUE(frame::FileTimeToDosDateTime(held, held_date, held_time));
      EXPECT_TRUE(held_date == date && held_time == time && held < plain) << zone << " " << t;
      ++repeated;
    }
    EXPECT_LE(repeated, 6u) << zone;
    ASSERT_TRUE(platform::LocalToFileTime(skipped, plain));
    platform::ZoneHold hold;
    ASSERT_TRUE(platform::LocalToFileTime(skipped, held));
    EXPECT_EQ(plain, held) << zone;  // the offset before the change
  }
}

TEST(ZipZone, SummerAndWinterStampsSurviveAPackAndUnpack) {
  InZone in("Europe/Berlin");
  TempDir dir;
  std::filesystem::create_directory(dir.path() / "src");
  // 12:34:56 local time, in summer (UTC+2) and in winter (UTC+1).
  const std::pair<const char*, long> files[] = {{"summer", 1719830096}, {"winter", 1705318496}};
  for (auto [name, seconds] : files) {
    const std::string path = dir / (std::string("src/") + name);
    WriteFile(path, std::string(1000, 'z'));
    struct timespec times[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  }
  const std::array<uint32_t, 15> pack = {0, 0, 8, 6};
  const std::string archive = dir / "z.zip", source = dir / "src/*";
  ASSERT_EQ(zip_pack2(nullptr, archive.c_str(), source.c_str(), nullptr, pack.data()), 0u);
  const std::string bytes = ReadFile(archive);
  const uint64_t time = (12 << 11) | (34 << 5) | 28;
  const uint64_t summer = (44 << 9) | (7 << 5) | 1, winter = (44 << 9) | (1 << 5) | 15;
  EXPECT_EQ(Le(bytes, 10, 4), time | summer << 16);  // the members are sorted by name
  const size_t second = bytes.find("PK\x03\x04", 4);
  ASSERT_NE(second, std::string::npos);
  EXPECT_EQ(Le(bytes, second + 10, 4), time | winter << 16);

  const std::array<uint32_t, 15> unpack = {};
  const std::string to = dir / "out";
  std::filesystem::create_directory(to);
  ASSERT_EQ(zip_unpack2(nullptr, archive.c_str(), to.c_str(), nullptr, nullptr, unpack.data()), 0u);
  for (auto [name, seconds] : files) {
    struct stat st;
    ASSERT_EQ(::stat((dir / (std::string("out/") + name)).c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, seconds) << name;
  }
}

}  // namespace
}  // namespace tx::test
