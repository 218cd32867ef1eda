// Names stored in a DOS code page: the one Windows gives the user's language (its OEM code
// page) or one the host chooses, decoded to UTF-16.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tx::platform {

// The OEM code page Windows gives the language, territory and script of a POSIX locale
// name such as "ja_JP.UTF-8" or "sr_RS@latin"; 437 for any other.
uint32_t OemCodePageOfLocale(std::string_view locale);

// Whether names in `code_page` can be decoded on this system.
bool CodePageKnown(uint32_t code_page);

// The code page of names for the whole process: 0 returns to the locale's choice (LC_ALL,
// else LC_CTYPE, else LANG). False, nothing changed, for a code page not known.
bool SetNameCodePage(uint32_t code_page);
uint32_t NameCodePage();

// Decodes `size` bytes in `code_page` into `out`, terminator included. False for a
// sequence the code page does not define, or when the text with its terminator needs more
// than `capacity` units; `out` then holds an empty string if capacity > 0.
bool DecodeCodePage(uint32_t code_page, const uint8_t* bytes, size_t size, char16_t* out, size_t capacity);

}  // namespace tx::platform
