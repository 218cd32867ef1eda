#include "frame/times.h"

#include "platform/clock.h"

namespace tx::frame {

namespace {

constexpr uint64_t kTicksPerSecond = 10000000;
constexpr uint64_t kSeconds1601To1970 = 11644473600;
constexpr uint64_t kUnixEpoch = kSeconds1601To1970 * kTicksPerSecond;

}  // namespace

platform::FileTime UnixToFileTime(uint32_t seconds) {
  return (seconds + kSeconds1601To1970) * kTicksPerSecond;
}

uint32_t FileTimeToUnix(platform::FileTime time) {
  // Times before 1970 give their negative count in two's complement.
  if (time >= kUnixEpoch) return static_cast<uint32_t>((time - kUnixEpoch) / kTicksPerSecond);
  return static_cast<uint32_t>(0u - static_cast<uint32_t>((kUnixEpoch - time) / kTicksPerSecond));
}

bool FileTimeToDosDateTime(platform::FileTime time, uint16_t& dos_date, uint16_t& dos_time) {
  platform::LocalTime local;
  if (!platform::FileTimeToLocal(time, local) || local.year < 1980 || local.year > 2107) return false;
  dos_date = static_cast<uint16_t>(((local.year - 1980) << 9) | (local.month << 5) | local.day);
  dos_time = static_cast<uint16_t>((local.hour << 11) | (local.minute << 5) | (local.second / 2));
  return true;
}

bool DosDateTimeToFileTime(uint16_t dos_date, uint16_t dos_time, platform::FileTime& time) {
  platform::LocalTime local;
  local.year = 1980 + (dos_date >> 9);
  local.month = (dos_date >> 5) & 0x0F;
  local.day = dos_date & 0x1F;
  local.hour = dos_time >> 11;
  local.minute = (dos_time >> 5) & 0x3F;
  local.second = (dos_time & 0x1F) * 2;
  return platform::LocalToFileTime(local, time);
}

}  // namespace tx::frame
