// The listing of a ZIP archive as text: head, how the central directory is stored, one
// line per record with a rule every ten records, and the totals.
#pragma once

#include <cstdint>

#include "frame/status.h"

namespace tx::zip {

// Options: [0] flags (bit 3: a signature that does not verify is shown and, when the user
// goes on, listed as bad). A null output or a size of 0 lists nothing and succeeds.
StatusCode zip_list(void* parent, const char* archive, const char* password, char* output,
                    uint32_t output_size, const uint32_t* options);

}  // namespace tx::zip
