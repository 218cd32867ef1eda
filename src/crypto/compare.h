// Comparison of secret-derived values (authentication codes, password verifiers) whose
// running time does not depend on where the first difference lies.
#pragma once

#include <cstddef>

namespace tx::crypto {

// True when the `size` bytes at `a` and `b` are equal; takes the same time for every input
// of one size.
bool SecretEqual(const void* a, const void* b, size_t size);

}  // namespace tx::crypto
