#include "frame/listing.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform/clock.h"
#include "platform/text.h"
#include "ui/display_text.h"

namespace tx::frame {

StatusCode AppendListing(char* buffer, uint32_t& remaining, const char* text, size_t* used) {
  size_t size = std::strlen(text);
  if (size >= remaining) return ConditionCode(Cls::OutputTooSmall, place::kExportBody, 0x00);
  size_t end = used != nullptr ? *used : std::strlen(buffer);
  std::memcpy(buffer + end, text, size + 1);
  remaining -= static_cast<uint32_t>(size);
  if (used != nullptr) *used = end + size;
  return kOk;
}

std::string FormatText(const char* format, ...) {
  char text[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

bool ListingName(const char16_t* name, std::string& out) {
  std::string text;
  if (!platform::Utf16ToUtf8(name, text)) return false;
  out = ui::EscapeControls(text);
  return true;
}

std::string ListingAttributes(uint32_t attributes) {
  std::string field = "     ";
  if (attributes & 0x01) field[0] = 'R';
  if (attributes & 0x02) field[1] = 'H';
  if (attributes & 0x04) field[2] = 'S';
  if (attributes & 0x20) field[3] = 'A';
  return field;
}

std::string ListingTime(platform::FileTime time) {
  platform::LocalTime t;
  if (!platform::FileTimeToLocal(time, t)) t = {};
  return FormatText("%4d-%02d-%02d %02d:%02d:%02d ", t.year, t.month, t.day, t.hour, t.minute, t.second);
}

}  // namespace tx::frame
