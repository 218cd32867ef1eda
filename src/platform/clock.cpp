#include "platform/clock.h"

#include <time.h>

#include <cstdint>

#include "platform/file.h"

namespace tx::platform {

namespace {

constexpr int kFirstYear = 1601;
constexpr int kLastYear = 30827;
constexpr int64_t kUnix1601 = -11644473600LL;  // 1601-01-01 in seconds since 1970

int DaysInMonth(int year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

}  // namespace

FileTime CurrentFileTime() {
  struct timespec now;
  ::clock_gettime(CLOCK_REALTIME, &now);
  return FileTimeFromUnixNanos(now.tv_sec, now.tv_nsec);
}

bool FileTimeToLocal(FileTime time, LocalTime& local) {
  if (time > static_cast<FileTime>(INT64_MAX)) return false;
  int64_t seconds, nanoseconds;
  FileTimeToUnixNanos(time, seconds, nanoseconds);
  // mktime reads the time zone afresh; do the same here so both directions agree.
  ::tzset();
  time_t t = static_cast<time_t>(seconds);
  struct tm tm;
  if (::localtime_r(&t, &tm) == nullptr) return false;
  int year = tm.tm_year + 1900;
  if (year < kFirstYear || year > kLastYear) return false;
  local.year = year;
  local.month = tm.tm_mon + 1;
  local.day = tm.tm_mday;
  local.hour = tm.tm_hour;
  local.minute = tm.tm_min;
  local.second = tm.tm_sec;
  local.milliseconds = static_cast<int>(nanoseconds / 1000000);
  local.day_of_week = tm.tm_wday;
  return true;
}

bool LocalToFileTime(const LocalTime& local, FileTime& time) {
  if (local.year < kFirstYear || local.year > kLastYear || local.month < 1 || local.month > 12 ||
      local.day < 1 || local.day > DaysInMonth(local.year, local.month) || local.hour < 0 ||
      local.hour > 23 || local.minute < 0 || local.minute > 59 || local.second < 0 || local.second > 59 ||
      local.milliseconds < 0 || local.milliseconds > 999) {
    return false;
  }
  struct tm tm = {};
  tm.tm_year = local.year - 1900;
  tm.tm_mon = local.month - 1;
  tm.tm_mday = local.day;
  tm.tm_hour = local.hour;
  tm.tm_min = local.minute;
  tm.tm_sec = local.second;
  tm.tm_isdst = -1;
  tm.tm_wday = -1;  // mktime returns -1 both for failure and for one valid second
  time_t t = ::mktime(&tm);
  if (tm.tm_wday < 0 || t < kUnix1601) return false;
  time = FileTimeFromUnixNanos(t, static_cast<int64_t>(local.milliseconds) * 1000000);
  return true;
}

}  // namespace tx::platform
