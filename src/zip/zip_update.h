// Changing an existing ZIP archive without recompressing or re-encrypting anything:
// members are copied byte for byte (local header, data, data descriptor) into a new
// archive beside the old one, the central directory is rebuilt with the new offsets,
// and the new archive takes the old one's name in one rename.
#pragma once

#include <cstdint>

#include "frame/status.h"

namespace tx::zip {

namespace place {
inline constexpr uint8_t kUpdateRecord = 0x15;
inline constexpr uint8_t kMemberCopy = 0x17;
}  // namespace place

// Option words: [0] flags (bit 0 progress).
StatusCode zip_delete(void* parent, const char* archive, const char* work_folder, const char* filter,
                      const char* password, const uint32_t* options);
// Option words: [0] flags, [1] replacement: 0 never, 1 always, 2 when the source member
// is newer.
StatusCode zip_add(void* parent, const char* destination, const char* source, const char* work_folder,
                   const char* filter, const char* password, const uint32_t* options);

}  // namespace tx::zip
