// Time conversions between the in-memory file time (100 ns units since 1601, UTC), Unix
// seconds and MS-DOS date and time stamps, which hold local time.
#pragma once

#include <cstdint>

#include "platform/types.h"

namespace tx::frame {

platform::FileTime UnixToFileTime(uint32_t seconds);

// Whole seconds since 1970, truncated toward zero and kept in 32 bits: times from 1970
// to 2106 read back unsigned, times from 1901 to 2038 signed.
uint32_t FileTimeToUnix(platform::FileTime time);

// Local date (year - 1980, month, day) and time (hour, minute, seconds / 2) of `time`.
// False for a time whose local year is not in 1980 to 2107.
bool FileTimeToDosDateTime(platform::FileTime time, uint16_t& dos_date, uint16_t& dos_time);

// The file time of a local DOS stamp. False for a field out of range (month 0 or 13,
// February 30, hour 24, minute 60, 60 seconds or more, ...).
bool DosDateTimeToFileTime(uint16_t dos_date, uint16_t dos_time, platform::FileTime& time);

}  // namespace tx::frame
