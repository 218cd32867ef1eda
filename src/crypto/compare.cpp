#include "crypto/compare.h"

#include <openssl/crypto.h>

namespace tx::crypto {

bool SecretEqual(const void* a, const void* b, size_t size) { return CRYPTO_memcmp(a, b, size) == 0; }

}  // namespace tx::crypto
