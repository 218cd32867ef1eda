// UTF-16 texts made fit for showing: UTF-8, with what cannot be shown replaced.
#pragma once

#include <string>
#include <string_view>

namespace tx::ui {

// Unpaired surrogates become U+FFFD; control characters become "?" so a hostile name
// cannot drive the terminal.
std::string DisplayText(const char16_t* text);
// The same for a path, with "\" separators shown as "/".
std::string DisplayPath(const char16_t* path);

// Columns a text takes on a terminal (East Asian wide characters take two).
size_t DisplayWidth(std::string_view utf8);
// Cuts the middle out of a path, keeping its last component where it can, so that it
// takes at most `columns` columns.
std::string ShortenPath(std::string_view path, size_t columns);

}  // namespace tx::ui
