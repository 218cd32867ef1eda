// One CBC chain over whole blocks in one OpenSSL context, padding off (the formats add
// and check their own). The key schedule goes with the context, which OpenSSL wipes.
#pragma once

#include <openssl/types.h>

#include <cstddef>
#include <cstdint>

#include "crypto/provider.h"

namespace tx::crypto {

class CbcCipher {
 public:
  CbcCipher() = default;
  ~CbcCipher();
  CbcCipher(const CbcCipher&) = delete;
  CbcCipher& operator=(const CbcCipher&) = delete;

  // `kind` one of the CBC kinds; the key of its length, the IV one block.
  bool Init(CipherKind kind, const uint8_t* key, const uint8_t* iv, bool encrypt);
  // In place over whole blocks (`size` a multiple of block()), continuing the chain.
  bool Run(uint8_t* data, size_t size);
  size_t block() const { return block_; }

 private:
  EVP_CIPHER_CTX* ctx_ = nullptr;
  size_t block_ = 0;
};

}  // namespace tx::crypto
