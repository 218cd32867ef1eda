#include "platform/clock.h"

#include <time.h>

#include <algorithm>
#include <atomic>
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

std::atomic<int> g_holds{0};

bool Held() { return g_holds.load(std::memory_order_acquire) > 0; }

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
int64_t DaysFromCivil(int year, int month, int day) {
  const int64_t y = year - (month <= 2 ? 1 : 0);
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t year_of_era = y - era * 400;
  const int64_t day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + day_of_era - 719468;
}

bool OffsetAt(time_t t, long& offset) {
  struct tm tm;
  if (::localtime_r(&t, &tm) == nullptr) return false;
  offset = tm.tm_gmtoff;
  return true;
}

bool Shows(time_t t, const LocalTime& local) {
  struct tm tm;
  return ::localtime_r(&t, &tm) != nullptr && tm.tm_year + 1900 == local.year &&
         tm.tm_mon + 1 == local.month && tm.tm_mday == local.day && tm.tm_hour == local.hour &&
         tm.tm_min == local.minute && tm.tm_sec == local.second;
}

// Local to UTC with the zone localtime_r already holds. Zones change their offset at most
// once within a day and a half, so the offsets 36 hours before and after are the only
// candidates; a skipped local time takes the offset before the change, as mktime does.
bool HeldLocalToUnix(const LocalTime& local, time_t& result) {
  constexpr int64_t kSpan = 36 * 3600;
  const int64_t wall = DaysFromCivil(local.year, local.month, local.day) * 86400 + local.hour * 3600 +
                       local.minute * 60 + local.second;
  long before = 0, after = 0;
  if (!OffsetAt(static_cast<time_t>(wall - kSpan), before) ||
      !OffsetAt(static_cast<time_t>(wall + kSpan), after))
    return false;
  const time_t early = static_cast<time_t>(wall - std::max(before, after));
  const time_t late = static_cast<time_t>(wall - std::min(before, after));
  if (Shows(early, local)) {
    result = early;
  } else if (Shows(late, local)) {
    result = late;
  } else {
    result = static_cast<time_t>(wall - before);
  }
  return true;
}

}  // namespace

ZoneHold::ZoneHold() {
  ::tzset();
  g_holds.fetch_add(1, std::memory_order_acq_rel);
}

ZoneHold::~ZoneHold() { g_holds.fetch_sub(1, std::memory_order_acq_rel); }

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
  if (!Held()) ::tzset();
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
  time_t t = 0;
  if (Held()) {
    if (!HeldLocalToUnix(local, t) || t < kUnix1601) return false;
    time = FileTimeFromUnixNanos(t, static_cast<int64_t>(local.milliseconds) * 1000000);
    return true;
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
  t = ::mktime(&tm);
  if (tm.tm_wday < 0 || t < kUnix1601) return false;
  time = FileTimeFromUnixNanos(t, static_cast<int64_t>(local.milliseconds) * 1000000);
  return true;
}

}  // namespace tx::platform
