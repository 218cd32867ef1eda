// zlib and libbz2 count in 32 bits; larger pieces go to them in several turns.
#pragma once

#include <cstddef>
#include <limits>

namespace tx::codec {

inline unsigned Units(size_t size) {
  constexpr size_t kMax = std::numeric_limits<unsigned>::max();
  return static_cast<unsigned>(size < kMax ? size : kMax);
}

}  // namespace tx::codec
