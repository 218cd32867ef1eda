// Helpers of the record tests: little-endian access, names, extra fields.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "zip/zip_records.h"

namespace tx::zip::testutil {

using Bytes = std::vector<uint8_t>;

inline uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline uint32_t U32(const uint8_t* p) { return U16(p) | static_cast<uint32_t>(U16(p + 2)) << 16; }
inline uint64_t U64(const uint8_t* p) { return U32(p) | static_cast<uint64_t>(U32(p + 4)) << 32; }
inline void Put(uint8_t* p, uint64_t v, int width) {
  for (int i = 0; i < width; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

inline void SetName(ZipEntryInfo& entry, std::u16string_view name) {
  std::memcpy(entry.name.units, name.data(), name.size() * sizeof(char16_t));
  entry.name.units[name.size()] = 0;
}
inline std::u16string Name(const ZipEntryInfo& entry) { return entry.name.units; }
inline ZipEntryInfo Named(std::u16string_view name) {
  ZipEntryInfo entry;
  SetName(entry, name);
  return entry;
}
// Expected bytes as hex with spaces between the fields.
inline std::string H(std::string_view spaced) {
  std::string hex;
  for (char c : spaced) {
    if (c != ' ') hex += c;
  }
  return hex;
}
// The states are large; the tests keep them on the heap.
inline std::unique_ptr<ZipArchiveState> NewState() { return std::make_unique<ZipArchiveState>(); }

// An extra field: tag, 16-bit size, data.
inline Bytes Field(uint16_t tag, const Bytes& data) {
  Bytes out(4 + data.size());
  Put(out.data(), tag, 2);
  Put(out.data() + 2, data.size(), 2);
  if (!data.empty()) std::memcpy(out.data() + 4, data.data(), data.size());
  return out;
}

}  // namespace tx::zip::testutil
