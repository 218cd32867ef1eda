// Status codes: 0x SS CC PP OO = system flag, class, place (raising routine), occurrence.
// A code is composed once where the failure is found and returned unchanged above.
#pragma once

#include <cstdint>

#include "platform/types.h"

namespace tx {

using StatusCode = uint32_t;

inline constexpr StatusCode kOk = 0;

constexpr StatusCode MakeCode(uint8_t system, uint8_t cls, uint8_t place, uint8_t occurrence) {
  return (StatusCode{system} << 24) | (StatusCode{cls} << 16) | (StatusCode{place} << 8) | occurrence;
}

// A failed platform call: system flag 0x01, the call as class.
constexpr StatusCode SystemCode(platform::SysCall call, uint8_t place, uint8_t occurrence) {
  return MakeCode(0x01, static_cast<uint8_t>(call), place, occurrence);
}

// Conditions (system flag 0x00).
enum class Cls : uint8_t {
  BadArgument = 0x01,
  BadOption = 0x02,
  BadName = 0x10,
  NameLength = 0x11,
  NoDirectory = 0x12,
  NothingToDo = 0x13,
  NotADirectory = 0x14,
  VolumeCount = 0x18,
  NoMemory = 0x20,
  NoMemoryGrow = 0x21,
  OutputTooSmall = 0x28,
  CoderInit = 0x30,
  CoderFailed = 0x31,
  CoderEnd = 0x32,
  UnknownMethod = 0x33,
  PasswordProblem = 0x40,
  PasswordWrong = 0x41,
  AuthFailed = 0x42,
  CipherData = 0x43,
  UnknownCipher = 0x44,
  CipherParameter = 0x45,
  SignatureWrong = 0x59,
  ArchiveDamaged = 0x60,
  ChecksumWrong = 0x61,
  DigestWrong = 0x62,
  Cancelled = 0x90,
};

constexpr StatusCode ConditionCode(Cls cls, uint8_t place, uint8_t occurrence) {
  return MakeCode(0x00, static_cast<uint8_t>(cls), place, occurrence);
}

// System flag and class together, as callers compare them.
constexpr StatusCode ClassOf(StatusCode code) { return code & 0xFFFF0000u; }

// Places of the shared routines.
namespace place {
inline constexpr uint8_t kExportBody = 0x00;
inline constexpr uint8_t kNameCheck = 0x31;
inline constexpr uint8_t kArgument = 0x32;
inline constexpr uint8_t kFileCrc32 = 0x41;
inline constexpr uint8_t kFileCrc64 = 0x42;
inline constexpr uint8_t kFileMd5 = 0x43;
inline constexpr uint8_t kFileRipemd160 = 0x44;
inline constexpr uint8_t kFileSha1 = 0x45;
inline constexpr uint8_t kFileSha256 = 0x46;
inline constexpr uint8_t kFileSha512 = 0x47;
inline constexpr uint8_t kFileWhirlpool = 0x48;
}  // namespace place

}  // namespace tx
