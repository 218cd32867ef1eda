#include "ui/display_text.h"

#include "platform/system.h"
#include "platform/text.h"

namespace tx::ui {

namespace {

using platform::AppendUtf8;

std::string Convert(const char16_t* text, bool path) {
  std::string out;
  for (size_t i = 0; text[i] != 0; ++i) {
    char32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[++i] - 0xDC00);
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    } else if (path && cp == '\\') {
      cp = '/';
    }
    AppendShown(out, cp);
  }
  return out;
}

// Our own strings only: valid UTF-8 is assumed.
std::u32string Decode(std::string_view s) {
  std::u32string out;
  for (size_t i = 0; i < s.size();) {
    auto b = static_cast<unsigned char>(s[i]);
    size_t len = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
    char32_t cp = len == 1 ? b : len == 2 ? (b & 0x1F) : len == 3 ? (b & 0x0F) : (b & 0x07);
    for (size_t k = 1; k < len && i + k < s.size(); ++k) cp = (cp << 6) | (s[i + k] & 0x3F);
    out += cp;
    i += len;
  }
  return out;
}

bool IsWide(char32_t c) {
  return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF && c != 0x303F) ||
         (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) ||
         (c >= 0xFF00 && c <= 0xFF60) || (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1FAFF) ||
         (c >= 0x20000 && c <= 0x3FFFD);
}

size_t Width(std::u32string_view text) {
  size_t w = 0;
  for (char32_t c : text) w += IsWide(c) ? 2 : 1;
  return w;
}

std::string Encode(std::u32string_view s) {
  std::string out;
  for (char32_t c : s) AppendUtf8(out, c);
  return out;
}

}  // namespace

bool IsControlCharacter(char32_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

void AppendShown(std::string& out, char32_t c) {
  if (!IsControlCharacter(c)) return AppendUtf8(out, c);
  static constexpr char kHex[] = "0123456789ABCDEF";
  out += "\\x";
  out += kHex[c >> 4];
  out += kHex[c & 0xF];
}

std::string EscapeControls(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size(); ++i) {
    auto b = static_cast<unsigned char>(utf8[i]);
    // C1 characters are the two-byte sequences C2 80 to C2 9F.
    if (b == 0xC2 && i + 1 < utf8.size() && (static_cast<unsigned char>(utf8[i + 1]) & 0xE0) == 0x80) {
      AppendShown(out, static_cast<unsigned char>(utf8[++i]));
    } else if (b < 0x80 && IsControlCharacter(b)) {  // never a continuation byte
      AppendShown(out, b);
    } else {
      out += utf8[i];
    }
  }
  return out;
}

size_t DisplayWidth(std::string_view utf8) { return Width(Decode(utf8)); }

std::string DisplayText(const char16_t* text) { return Convert(text, false); }
std::string DisplayPath(const char16_t* path) { return Convert(path, true); }


std::string ShortenPath(std::string_view path, size_t columns) {
  // A shown password may pass through here: the temporaries are wiped before they go.
  std::u32string text = Decode(path);
  std::string result;
  if (Width(text) <= columns) {
    result.assign(path);
  } else {
    static constexpr std::u32string_view kEllipsis = U"...";
    if (columns <= kEllipsis.size()) {
      result = Encode(kEllipsis.substr(0, columns));
    } else {
      size_t room = columns - kEllipsis.size();
      // Keep as much of the end as fits, at most from the last separator on, then fill the
      // remaining room from the start.
      size_t last_sep = text.rfind(U'/');
      size_t tail_start = text.size();
      size_t tail_width = 0;
      while (tail_start > 0) {
        size_t w = IsWide(text[tail_start - 1]) ? 2 : 1;
        if (tail_width + w > room) break;
        if (last_sep != std::u32string::npos && tail_start - 1 < last_sep) break;
        tail_width += w;
        --tail_start;
      }
      size_t head_end = 0;
      size_t head_width = 0;
      while (head_end < tail_start) {
        size_t w = IsWide(text[head_end]) ? 2 : 1;
        if (head_width + w + tail_width > room) break;
        head_width += w;
        ++head_end;
      }
      std::u32string out = text.substr(0, head_end);
      out += kEllipsis;
      out += text.substr(tail_start);
      result = Encode(out);
      platform::WipeMemory(out.data(), out.size() * sizeof(char32_t));
    }
  }
  platform::WipeMemory(text.data(), text.size() * sizeof(char32_t));
  return result;
}

}  // namespace tx::ui
