// The listing of a 7z archive: its size, entries and blocks, how its header is packed,
// and one line per entry with time, attributes, method, encryption, CRC and sizes.
#pragma once

#include <cstdint>

#include "frame/status.h"

namespace tx::svz {

// Option word: flags (bit 2 ask for the password of an encrypted header).
StatusCode svz_list(void* parent, const char* archive, const char* password, char* output,
                    uint32_t output_size, const uint32_t* options);

}  // namespace tx::svz
