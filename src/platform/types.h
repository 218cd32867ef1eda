// Types shared by every platform call.
#pragma once

#include <cstdint>

namespace tx::platform {

// 100-nanosecond intervals since 1601-01-01 UTC: the in-memory time everywhere.
using FileTime = uint64_t;

// Platform calls report failure as false; each documents which of these calls it stands
// for, and the caller composes the status code (system flag 0x01, this value as class).
enum class SysCall : uint8_t {
  CloseHandle = 0x00,
  FindFirstFile = 0x01,
  CreateFile = 0x02,
  ReadFile = 0x03,
  WriteFile = 0x04,
  SetFilePointer = 0x05,
  SetFileTime = 0x06,
  GetFileTime = 0x07,
  GetFileSize = 0x08,
  GetCurrentDirectory = 0x09,
  GetFileAttributes = 0x0A,
  CreateDirectory = 0x0B,
  GetTempPath = 0x0C,
  GetTempFileName = 0x0D,
  DeleteFile = 0x0E,
  MoveFile = 0x0F,
  MultiByteToWide = 0x20,
  WideToMultiByte = 0x21,
  CryptoProvider = 0x30,
};

// Windows attribute bits as stored in archives.
inline constexpr uint32_t kAttrReadOnly = 0x01;
inline constexpr uint32_t kAttrDirectory = 0x10;
inline constexpr uint32_t kAttrArchive = 0x20;

}  // namespace tx::platform
