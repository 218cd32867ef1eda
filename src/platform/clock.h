// The current time and conversions between FileTime (UTC) and the local time of the
// process time zone, which DOS date stamps and listings use.
#pragma once

#include "platform/types.h"

namespace tx::platform {

struct LocalTime {
  int year = 0;   // 1601 to 30827
  int month = 0;  // 1 to 12
  int day = 0;    // 1 to 31
  int hour = 0;
  int minute = 0;
  int second = 0;
  int milliseconds = 0;
  int day_of_week = 0;  // 0 Sunday to 6 Saturday; ignored by LocalToFileTime
};

FileTime CurrentFileTime();

// False when the time does not fit the range of LocalTime.
bool FileTimeToLocal(FileTime time, LocalTime& local);

// False for a field out of its range (February 30 included) or a result before 1601.
// A local time skipped or repeated by a daylight-saving change is resolved as mktime does;
// while a ZoneHold is alive, see there.
bool LocalToFileTime(const LocalTime& local, FileTime& time);

// Reads the process time zone once for a run of conversions. The C library reads the zone
// afresh (a stat of its file) on every mktime and tzset; while any hold is alive, the two
// conversions above use the zone as read when the hold was made, computing local to UTC
// from localtime_r instead of mktime. The results are mktime's, except that a local time
// repeated by a daylight-saving change always means its first (earlier) instant, where
// mktime picks either depending on its previous calls. Holds may overlap across threads.
class ZoneHold {
 public:
  ZoneHold();
  ~ZoneHold();
  ZoneHold(const ZoneHold&) = delete;
  ZoneHold& operator=(const ZoneHold&) = delete;
};

}  // namespace tx::platform
