#include "frame/names.h"

#include "platform/text.h"

namespace tx::frame {

namespace {

constexpr size_t kMaxExtensionList = 256;

bool Holds(const char16_t* text, size_t size, const char16_t* part, size_t part_size) {
  for (size_t i = 0; i + part_size <= size; ++i) {
    size_t k = 0;
    while (k < part_size && text[i + k] == part[k]) ++k;
    if (k == part_size) return true;
  }
  return false;
}

bool IsRefused(char16_t c, const char16_t* refused) {
  for (; refused != nullptr && *refused != 0; ++refused) {
    if (*refused == c) return true;
  }
  return false;
}

bool IsSeparator(char16_t c) { return c == u'/' || c == u'\\'; }

// Finds components that are exactly "..": `slash` when one is followed by "/" or ends a
// name after "/" (or alone), `backslash` when one is followed by "\" or ends a name after
// "\". Other runs of dots ("...", "..x") are ordinary names.
void FindParentReferences(const char16_t* name, size_t size, bool& slash, bool& backslash) {
  slash = backslash = false;
  for (size_t start = 0; start < size;) {
    size_t end = start;
    while (end < size && !IsSeparator(name[end])) ++end;
    if (end - start == 2 && name[start] == u'.' && name[start + 1] == u'.') {
      char16_t next = end < size ? name[end] : start > 0 ? name[start - 1] : u'/';
      (next == u'/' ? slash : backslash) = true;
    }
    start = end + 1;
  }
}

StatusCode NameCode(Cls cls, uint8_t occurrence) { return ConditionCode(cls, place::kNameCheck, occurrence); }

// Walks a list of names each ended by a zero unit.
const char16_t* NextName(const char16_t* name) {
  while (*name != 0) ++name;
  return name + 1;
}

}  // namespace

std::u16string FoldedName(const char16_t* name) {
  std::u16string out = name;
  for (char16_t& c : out)
    if ((c >= u'A' && c <= u'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) c = static_cast<char16_t>(c + 32);
  return out;
}

bool EqualFoldingAZ(const char16_t* a, const char16_t* b, size_t size) {
  auto lower = [](char16_t c) {
    return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + (u'a' - u'A')) : c;
  };
  for (size_t i = 0; i < size; ++i) {
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

StatusCode CheckName(const char16_t* name, const char16_t* refused) {
  if (name == nullptr || name[0] == 0) return NameCode(Cls::NameLength, 0x01);
  size_t size = 0;
  while (name[size] != 0) {
    if (++size >= platform::kWidePathUnits) return NameCode(Cls::NameLength, 0x02);
  }
  for (size_t i = 0; i < size; ++i) {
    if (IsRefused(name[i], refused)) return NameCode(Cls::BadName, 0x01);
  }
  bool slash_parent, backslash_parent;
  FindParentReferences(name, size, slash_parent, backslash_parent);
  if (slash_parent) return NameCode(Cls::BadName, 0x02);
  if (backslash_parent) return NameCode(Cls::BadName, 0x03);
  if (Holds(name, size, u"//", 2)) return NameCode(Cls::BadName, 0x04);
  if (name[0] == u'/') return NameCode(Cls::BadName, 0x05);
  return kOk;
}

bool HasExtension(const char16_t* name, const char16_t* extensions) {
  size_t list_size = 0;
  while (extensions[list_size] != 0) {
    if (++list_size >= kMaxExtensionList) return false;
  }
  size_t name_size = platform::Utf16Length(name);
  size_t start = 0;
  while (start < list_size && extensions[start] != u'.') ++start;
  while (start < list_size) {
    size_t end = start + 1;
    while (end < list_size && extensions[end] != u'.') ++end;
    size_t ext_size = end - start;
    if (name_size >= ext_size && EqualFoldingAZ(name + name_size - ext_size, extensions + start, ext_size))
      return true;
    start = end;
  }
  return false;
}

bool MatchPattern(const char16_t* pattern, const char16_t* name) {
  if (pattern[0] == 0 || (pattern[0] == u'*' && pattern[1] == 0)) return true;
  size_t pattern_size = platform::Utf16Length(pattern);
  size_t name_size = platform::Utf16Length(name);
  size_t star = 0;
  while (star < pattern_size && pattern[star] != u'*') ++star;
  if (star == pattern_size) return name_size == pattern_size && EqualFoldingAZ(pattern, name, name_size);
  // Prefix and suffix are tested each on its own, so they may overlap in the name.
  const char16_t* suffix = pattern + star + 1;
  size_t suffix_size = pattern_size - star - 1;
  return name_size >= star && EqualFoldingAZ(name, pattern, star) && name_size >= suffix_size &&
         EqualFoldingAZ(name + name_size - suffix_size, suffix, suffix_size);
}

StatusCode MatchAnyName(const char16_t* pattern, const char16_t* names, uint32_t count, bool& matched) {
  matched = false;
  if (count == 0) return kOk;
  if (pattern[0] == 0 || (pattern[0] == u'*' && pattern[1] == 0)) {
    matched = true;
    return kOk;
  }
  for (const char16_t* name = names; count > 0; --count, name = NextName(name)) {
    if (StatusCode code = CheckName(name, kRefusedEntryName)) return code;
    if (MatchPattern(pattern, name)) {
      matched = true;
      return kOk;
    }
  }
  return kOk;
}

StatusCode MatchAllNames(const char16_t* pattern, const char16_t* names, uint32_t count, bool& matched) {
  matched = true;
  if (count == 0 || (pattern[0] == u'*' && pattern[1] == 0)) return kOk;
  for (const char16_t* name = names; count > 0; --count, name = NextName(name)) {
    if (StatusCode code = CheckName(name, kRefusedEntryName)) {
      matched = false;
      return code;
    }
    if (!MatchPattern(pattern, name)) {
      matched = false;
      return kOk;
    }
  }
  return kOk;
}

}  // namespace tx::frame
