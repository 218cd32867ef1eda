// XOR of a keystream into data, the inner loop of every counter mode here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace tx::crypto {

// data ^= stream, eight bytes at a time where possible.
inline void XorInto(uint8_t* data, const uint8_t* stream, size_t size) {
  size_t i = 0;
  for (; i + 8 <= size; i += 8) {
    uint64_t a, b;
    std::memcpy(&a, data + i, 8);
    std::memcpy(&b, stream + i, 8);
    a ^= b;
    std::memcpy(data + i, &a, 8);
  }
  for (; i < size; ++i) data[i] ^= stream[i];
}

}  // namespace tx::crypto
