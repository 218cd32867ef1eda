// Listing text: pieces appended to the caller's buffer, never past its end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "frame/status.h"
#include "platform/types.h"

namespace tx::frame {

// Appends `text` to the zero-terminated text in `buffer` when its length is below
// `remaining` (the bytes still free, the terminator's included), and lowers `remaining`
// by that length. A piece that does not fit changes nothing: 0x00280000. `used`, when
// given, is the length of the text already in the buffer and is kept up to date, which
// spares a scan of the whole text per piece.
StatusCode AppendListing(char* buffer, uint32_t& remaining, const char* text, size_t* used = nullptr);

// A listing being written into the caller's buffer, piece by piece; the buffer starts as
// an empty text.
class ListingText {
 public:
  ListingText(char* buffer, uint32_t size) : buffer_(buffer), remaining_(size) { buffer_[0] = 0; }
  StatusCode Add(const char* text) { return AppendListing(buffer_, remaining_, text, &used_); }
  StatusCode Add(const std::string& text) { return Add(text.c_str()); }

 private:
  char* buffer_;
  uint32_t remaining_;
  size_t used_ = 0;
};

// printf into a string, for the short pieces of a listing line.
std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

// A name (or path) as listing text: UTF-8 with its control characters escaped as the
// dialogs show them, so an archive cannot fake lines of the listing or send terminal
// sequences through it. False when the name is not valid UTF-16.
bool ListingName(const char16_t* name, std::string& out);

// The attribute column: R, H, S, A in four places (blank where the bit is clear) and a blank.
std::string ListingAttributes(uint32_t attributes);

// "YYYY-MM-DD hh:mm:ss " in local time, as listing lines begin.
std::string ListingTime(platform::FileTime time);

}  // namespace tx::frame
