// UTF-16 texts made fit for showing: UTF-8, with what cannot be shown replaced.
#pragma once

#include <string>
#include <string_view>

namespace tx::ui {

// How names are shown wherever they become text for people (listings, prompts, progress):
// a control character (C0, DEL, C1) becomes "\x" and two upper-case hex digits of its code
// point, so a name can neither make a line of its own nor drive a terminal. A backslash
// stays as it is: Windows-made names hold it as a separator, and the escape only has to
// be harmless, not reversible.
bool IsControlCharacter(char32_t c);
void AppendShown(std::string& out, char32_t c);
// UTF-8 text (as converted from a name) with its control characters escaped.
std::string EscapeControls(std::string_view utf8);

// Unpaired surrogates become U+FFFD; control characters are escaped as above.
std::string DisplayText(const char16_t* text);
// The same for a path, with "\" separators shown as "/".
std::string DisplayPath(const char16_t* path);

// Columns a text takes on a terminal (East Asian wide characters take two).
size_t DisplayWidth(std::string_view utf8);
// Cuts the middle out of a path, keeping its last component where it can, so that it
// takes at most `columns` columns.
std::string ShortenPath(std::string_view path, size_t columns);

}  // namespace tx::ui
