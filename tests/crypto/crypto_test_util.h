// Helpers shared by the crypto tests.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tx::crypto::testutil {

using Bytes = std::vector<uint8_t>;

inline Bytes FromHex(std::string_view hex) {
  Bytes out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16));
  return out;
}

inline std::string ToHex(const uint8_t* data, size_t size) {
  std::string out;
  for (size_t i = 0; i < size; ++i)
    out += {"0123456789abcdef"[data[i] >> 4], "0123456789abcdef"[data[i] & 15]};
  return out;
}
inline std::string ToHex(const Bytes& data) { return ToHex(data.data(), data.size()); }

// Deterministic filler; Pattern(n, 0) counts 0, 1, 2, ...
inline Bytes Pattern(size_t size, uint32_t seed = 0x9E3779B9) {
  Bytes out(size);
  for (size_t i = 0; i < size; ++i)
    out[i] = static_cast<uint8_t>(seed == 0 ? i : (seed = seed * 1664525u + 1013904223u) >> 24);
  return out;
}

}  // namespace tx::crypto::testutil
