// The listing of a PEA archive as text: head, one line per object, totals, and how the
// volume and stream checks came out.
#pragma once

#include <cstdint>

#include "frame/status.h"

namespace tx::pea {

// Options: [0] flags (bit 0 progress, bit 2 ask for the password). A null output or a
// size of 0 lists nothing and succeeds.
StatusCode pea_list(void* parent, const char* archive, const char* password, const char* key_file, char* output,
                    uint32_t output_size, const uint32_t* options);

}  // namespace tx::pea
