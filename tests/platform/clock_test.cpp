#include "platform/clock.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace tx::platform {
namespace {

constexpr FileTime FromUnix(int64_t seconds) {
  return static_cast<FileTime>(seconds + 11644473600LL) * 10000000;
}

std::string Local(FileTime time) {
  LocalTime t;
  if (!FileTimeToLocal(time, t)) return "fails";
  char text[64];
  std::snprintf(text, sizeof(text), "%04d-%02d-%02d %02d:%02d:%02d.%03d w%d", t.year, t.month, t.day, t.hour,
                t.minute, t.second, t.milliseconds, t.day_of_week);
  return text;
}

// Local time and back; milliseconds survive, finer units do not.
bool RoundTrips(FileTime time) {
  LocalTime local;
  FileTime back;
  return FileTimeToLocal(time, local) && LocalToFileTime(local, back) && back == time - time % 10000;
}

void Zone(const char* tz) {
  ::setenv("TZ", tz, 1);
  ::tzset();
}

class ClockTest : public ::testing::Test {
 protected:
  void TearDown() override {
    if (saved_) return Zone(saved_->c_str());
    ::unsetenv("TZ");
    ::tzset();
  }
  std::optional<std::string> saved_ =
      std::getenv("TZ") ? std::optional<std::string>(std::getenv("TZ")) : std::nullopt;
};

TEST_F(ClockTest, UtcBerlinAndLimits) {
  const FileTime noon = FromUnix(1719835200) + 1234567;  // 2024-07-01 12:00:00.1234567 UTC, a Monday
  Zone("UTC");
  EXPECT_EQ(Local(noon), "2024-07-01 12:00:00.123 w1");
  EXPECT_EQ(Local(0), "1601-01-01 00:00:00.000 w1");
  EXPECT_TRUE(RoundTrips(noon) && RoundTrips(0));
  Zone("Europe/Berlin");
  EXPECT_EQ(Local(noon), "2024-07-01 14:00:00.123 w1");
  EXPECT_TRUE(RoundTrips(noon));
  FileTime back;
  EXPECT_FALSE(LocalToFileTime(LocalTime{2023, 2, 29, 12, 0, 0, 0, 0}, back));
  EXPECT_FALSE(LocalToFileTime(LocalTime{2024, 13, 1, 12, 0, 0, 0, 0}, back));
  EXPECT_FALSE(LocalToFileTime(LocalTime{1601, 1, 1, 0, 30, 0, 0, 0}, back));  // 1600 in UTC
  Zone("America/New_York");
  EXPECT_EQ(Local(0), "fails");  // still 1600 there
}

TEST_F(ClockTest, DaylightSavingDays) {
  Zone("Europe/Berlin");
  const int64_t spring = 1711843200;  // 2024-03-31 00:00 UTC: local 02:00 becomes 03:00
  EXPECT_EQ(Local(FromUnix(spring + 3599)), "2024-03-31 01:59:59.000 w0");
  EXPECT_EQ(Local(FromUnix(spring + 3600)), "2024-03-31 03:00:00.000 w0");
  for (int64_t s = spring - 7200; s < spring + 86400; s += 900) EXPECT_TRUE(RoundTrips(FromUnix(s))) << s;
  const int64_t autumn = 1729987200;  // 2024-10-27 00:00 UTC: local 03:00 becomes 02:00 again
  EXPECT_EQ(Local(FromUnix(autumn + 1800)), "2024-10-27 02:30:00.000 w0");
  EXPECT_EQ(Local(FromUnix(autumn + 5400)), "2024-10-27 02:30:00.000 w0");
}

}  // namespace
}  // namespace tx::platform
