// Restoring directories and empty files of an archive on disk, with their attributes and
// times. Creation times cannot be set on this platform; only the last-write time is.
#pragma once

#include <cstdint>

#include "frame/status.h"
#include "platform/types.h"

namespace tx::frame {

// Places of these routines in status codes.
inline constexpr uint8_t kPlaceParentDirectories = 0x3A;
inline constexpr uint8_t kPlaceDirectoryEntry = 0x3B;
inline constexpr uint8_t kPlaceEmptyFile = 0x3C;

// Creates every missing directory above the last component of `path` (the last "/", or
// the last "\" when there is no "/"). The first component is never created. Something
// other than a directory in the way 0x00143A01; a directory that cannot be made 0x010B3A01.
StatusCode MakeParentDirectories(const char16_t* path);

// Restores a directory: creates it (and its parents when needed) unless it exists, then
// sets its last-write time unless `last_write` is 0 or already equal, then its attributes.
// A trailing "/" on `path` is allowed. A file in the way 0x00143B01; not created
// 0x010B3B01; times not readable 0x01073B01; time not set 0x01063B01 (no creation time
// given) or 0x01063B02.
StatusCode MakeDirectoryEntry(const char16_t* path, uint32_t attributes, platform::FileTime creation,
                              platform::FileTime last_write);

// Restores an entry of size 0: creates or truncates the file (making parents when needed),
// sets its last-write time (0 leaves it), closes it and sets its attributes. Not created
// 0x01023C01; time not set 0x01063C01 (no creation time given) or 0x01063C02; close
// failed 0x01003C01.
StatusCode MakeEmptyFile(const char16_t* path, uint32_t attributes, platform::FileTime creation,
                         platform::FileTime last_write);

}  // namespace tx::frame
