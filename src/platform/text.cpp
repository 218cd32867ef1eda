#include "platform/text.h"

#include <cstdint>

namespace tx::platform {

size_t Utf16Length(const char16_t* text) {
  size_t n = 0;
  while (text[n] != 0) ++n;
  return n;
}

size_t WidePath::length() const { return Utf16Length(units); }

namespace {

// Decodes one scalar value; returns bytes used, 0 for an invalid sequence (overlong
// forms, surrogates, values above U+10FFFF and truncated sequences all count).
size_t DecodeUtf8(const unsigned char* s, char32_t& cp) {
  unsigned char b0 = s[0];
  if (b0 < 0x80) {
    cp = b0;
    return 1;
  }
  size_t len;
  char32_t min;
  if ((b0 & 0xE0) == 0xC0) {
    len = 2, cp = b0 & 0x1F, min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    len = 3, cp = b0 & 0x0F, min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    len = 4, cp = b0 & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  for (size_t i = 1; i < len; ++i) {
    if ((s[i] & 0xC0) != 0x80) return 0;  // also stops at the terminator
    cp = (cp << 6) | (s[i] & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return len;
}

}  // namespace

bool Utf8ToUtf16(const char* text, char16_t* out, size_t capacity) {
  if (capacity == 0) return false;
  const auto* s = reinterpret_cast<const unsigned char*>(text);
  size_t n = 0;
  while (*s != 0) {
    char32_t cp;
    size_t used = DecodeUtf8(s, cp);
    size_t need = cp >= 0x10000 ? 2 : 1;
    if (used == 0 || n + need + 1 > capacity) {
      out[0] = 0;
      return false;
    }
    if (need == 2) {
      cp -= 0x10000;
      out[n++] = static_cast<char16_t>(0xD800 + (cp >> 10));
      out[n++] = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out[n++] = static_cast<char16_t>(cp);
    }
    s += used;
  }
  out[n] = 0;
  return true;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

bool Utf16ToUtf8(const char16_t* text, size_t units, std::string& out) {
  out.clear();
  out.reserve(units);
  for (size_t i = 0; i < units; ++i) {
    char32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF) {
      if (i + 1 >= units || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) return false;
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[++i] - 0xDC00);
    } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
      return false;
    }
    AppendUtf8(out, cp);
  }
  return true;
}

bool Utf16ToUtf8(const char16_t* text, std::string& out) {
  return Utf16ToUtf8(text, Utf16Length(text), out);
}

}  // namespace tx::platform
