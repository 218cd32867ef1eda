// Changing existing 7z archives without decoding any entry: entries (or whole folders) are
// kept or taken from another archive, their packed streams copied byte for byte, and the
// header rebuilt in the changed archive's own header chain. The new archive is written
// beside the old one, under the same advisory lock as ZIP updates, and takes its name by
// one rename once complete and flushed.
#pragma once

#include <cstdint>

#include "frame/status.h"

namespace tx::svz {

// Option words: [0] flags (bit 0 progress, bit 2 ask for the password); svz_add also [1]
// the replacement mode: 0 never, 1 always, 2 when the source entry is newer.
StatusCode svz_add(void* parent, const char* destination, const char* source, const char* work_folder,
                   const char* filter, const char* password, const uint32_t* options);
StatusCode svz_add2(void* parent, const char* destination, const char* source, const char* work_folder,
                    const char* filter, const char* password, const uint32_t* options);
StatusCode svz_delete(void* parent, const char* archive, const char* work_folder, const char* filter,
                      const char* password, const uint32_t* options);
StatusCode svz_delete2(void* parent, const char* archive, const char* work_folder, const char* filter,
                       const char* password, const uint32_t* options);

}  // namespace tx::svz
