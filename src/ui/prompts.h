// The three modal prompts: overwrite, password, error notice.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/types.h"

namespace tx::ui {

// Asks before `path` is replaced by an entry of time `incoming` (UTC file time). 0 when
// nothing exists at the path; else the button: 1 Overwrite, 5 Overwrite all, 2 Skip (also
// Escape), 3 Cancel (also when the prompt cannot be shown).
int OverwritePrompt(const char16_t* path, platform::FileTime incoming);

// Asks for a password. 1: `buffer` (at least 251 bytes) holds it null-terminated, at most
// 250 bytes and never a cut character; 2: cancelled, buffer untouched; 0: not shown.
int PasswordPrompt(char* buffer);
inline constexpr size_t kPasswordBytes = 250;

// Reports a damaged entry. 1: go on; 2: stop; 0: not shown.
int ErrorNotice(const char16_t* path, uint32_t code);

// The message the notice shows for a code, in the current language ("" for none).
const char* NoticeMessage(uint32_t code);

}  // namespace tx::ui
