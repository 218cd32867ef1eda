// Checks and matching of entry names before anything is written or packed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "frame/status.h"

namespace tx::frame {

// Refused-character sets for CheckName, by what the name is.
inline constexpr char16_t kRefusedPeaPath[] = u",;*?<>|";         // PEA entry paths; list-file base line
inline constexpr char16_t kRefusedListName[] = u":,;*?<>|";       // name lines of a list file
inline constexpr char16_t kRefusedEntryName[] = u"\\:,;*?<>|";    // ZIP and 7z names ("/" separated)
inline constexpr char16_t kRefusedSingleName[] = u"\\/:,;*?<>|";  // one name without any separator

// Executable extensions, kept last when packing solid by type.
inline constexpr char16_t kExecutableExtensions[] = u".exe.dll.ocx.sfx.sys";

// Place 0x31, in this order: empty 0x00113101; 1024 units or more 0x00113102; a character
// of `refused` 0x00103101; a component that is exactly "..", followed by "/" (or last,
// after "/" or alone) 0x00103102, followed by "\" (or last after "\") 0x00103103; "//"
// 0x00103104; a leading "/" 0x00103105. "..name", "name..", "..." and a leading "\" pass.
StatusCode CheckName(const char16_t* name, const char16_t* refused);

// True if `name` ends with one of the "."-led extensions of `extensions` (for instance
// ".exe.dll"), ignoring the case of A-Z. A list of 256 units or more matches nothing.
bool HasExtension(const char16_t* name, const char16_t* extensions);

// Compares `size` units ignoring the case of A-Z only, as names in archives are compared.
bool EqualFoldingAZ(const char16_t* a, const char16_t* b, size_t size);

// A name folded so that the names of two archives meet without regard to case, as the
// archivers that made them treat names (A-Z and the Latin-1 capitals).
std::u16string FoldedName(const char16_t* name);

// An empty pattern and "*" match everything; without "*" the whole name must match;
// otherwise the name must begin with the text before the first "*" and end with the text
// after it (a later "*" is literal, "?" is literal). Case of A-Z is ignored.
bool MatchPattern(const char16_t* pattern, const char16_t* name);

// `names` holds `count` names, each ended by a zero unit. Every name is checked with
// kRefusedEntryName before it is matched; a refused name ends the search with its code.
// `matched`: some name matches (count 0 never does).
StatusCode MatchAnyName(const char16_t* pattern, const char16_t* names, uint32_t count, bool& matched);
// `matched`: every name matches (count 0 always does).
StatusCode MatchAllNames(const char16_t* pattern, const char16_t* names, uint32_t count, bool& matched);

}  // namespace tx::frame
