#include "frame/listing.h"

#include <cstring>

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

}  // namespace tx::frame
