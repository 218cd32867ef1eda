// Listing text: pieces appended to the caller's buffer, never past its end.
#pragma once

#include <cstddef>
#include <cstdint>

#include "frame/status.h"

namespace tx::frame {

// Appends `text` to the zero-terminated text in `buffer` when its length is below
// `remaining` (the bytes still free, the terminator's included), and lowers `remaining`
// by that length. A piece that does not fit changes nothing: 0x00280000. `used`, when
// given, is the length of the text already in the buffer and is kept up to date, which
// spares a scan of the whole text per piece.
StatusCode AppendListing(char* buffer, uint32_t& remaining, const char* text, size_t* used = nullptr);

}  // namespace tx::frame
