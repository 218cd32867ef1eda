// What a PEA archive's headers say, and one object's record in memory.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/text.h"
#include "platform/types.h"

namespace tx::pea {

inline constexpr uint32_t kPeaBlockSize = 1048576;  // written into compressed archives
inline constexpr size_t kHeaderSize = 20;
inline constexpr size_t kKeyHeaderSize = 22;  // the header and the two zero bytes after it
inline constexpr size_t kCryptoHeaderSize = 16;
inline constexpr size_t kSaltSize = 12;
inline constexpr uint32_t kTimeUnix = 48;
inline constexpr uint32_t kTimeDos = 16;

struct PeaArchiveInfo {
  uint32_t flags = 0x11;
  uint32_t time_encoding = kTimeDos;
  uint32_t byte7 = 1;
  uint32_t compression = 0;
  uint32_t block_size = kPeaBlockSize;
  uint32_t volume_algorithm = 0;
  uint32_t stream_algorithm = 0;
  uint32_t object_algorithm = 0;
  uint8_t salt[kSaltSize] = {};
  uint16_t verifier = 0;
};

struct PeaObjectEntry {
  uint32_t attributes = 0;
  uint64_t size = 0;
  platform::FileTime last_write = 0;
  platform::WidePath name;  // UTF-16; a folder's name ends with "\"

  bool IsFolder() const;
};

}  // namespace tx::pea
