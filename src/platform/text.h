// UTF-8 <-> UTF-16 conversion. Paths live in UTF-16 inside the library so that every
// length limit counts the same units as stored archives do; UTF-8 is made only at the
// system call.
#pragma once

#include <cstddef>
#include <string>

namespace tx::platform {

inline constexpr size_t kWidePathUnits = 1024;

// One converted path argument, terminator included: at most 1023 units of text.
struct WidePath {
  char16_t units[kWidePathUnits] = {};

  const char16_t* c_str() const { return units; }
  bool empty() const { return units[0] == 0; }
  size_t length() const;
};

size_t Utf16Length(const char16_t* text);

// Strict conversion through the terminator into `out` of `capacity` units. Fails (false,
// SysCall::MultiByteToWide) on invalid UTF-8 or when the result with its terminator
// needs more than `capacity` units; `out` then holds an empty string if capacity > 0.
bool Utf8ToUtf16(const char* text, char16_t* out, size_t capacity);

// Appends one scalar value as UTF-8.
void AppendUtf8(std::string& out, char32_t code_point);

// Strict conversion (false, SysCall::WideToMultiByte, on an unpaired surrogate).
bool Utf16ToUtf8(const char16_t* text, std::string& out);
bool Utf16ToUtf8(const char16_t* text, size_t units, std::string& out);

}  // namespace tx::platform
