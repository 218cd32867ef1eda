// Extracting 7z archives: the one entry of a single-entry archive, the entries of an
// archive of one folder per file, or the entries of any archive (solid blocks too) that a
// name pattern selects.
#pragma once

#include <cstdint>

#include "frame/status.h"

namespace tx::svz {

// Options: [0] demand encryption (header and every folder), [1] flags (bit 0 progress,
// bit 1 ask before overwriting, bit 2 ask for a missing password (once per call), bit 3
// (svz_unpack2, svz_unpack3) offer to go on past a damaged entry).
StatusCode svz_unpack1(void* parent, const char* archive, const char* directory, const char* password,
                       const uint32_t* options);
StatusCode svz_unpack2(void* parent, const char* archive, const char* directory, const char* filter,
                       const char* password, const uint32_t* options);
StatusCode svz_unpack3(void* parent, const char* archive, const char* directory, const char* filter,
                       const char* password, const uint32_t* options);

}  // namespace tx::svz
