#include "crypto/cbc.h"

#include <openssl/evp.h>

#include <algorithm>

namespace tx::crypto {

CbcCipher::~CbcCipher() { EVP_CIPHER_CTX_free(ctx_); }

bool CbcCipher::Init(CipherKind kind, const uint8_t* key, const uint8_t* iv, bool encrypt) {
  block_ = 0;
  const EVP_CIPHER* algorithm = FetchCipher(kind);
  if (algorithm == nullptr || EVP_CIPHER_get_mode(algorithm) != EVP_CIPH_CBC_MODE) return false;
  if (ctx_ == nullptr && (ctx_ = EVP_CIPHER_CTX_new()) == nullptr) return false;
  if (EVP_CipherInit_ex2(ctx_, algorithm, key, iv, encrypt ? 1 : 0, nullptr) != 1 ||
      EVP_CIPHER_CTX_set_padding(ctx_, 0) != 1)
    return false;
  block_ = static_cast<size_t>(EVP_CIPHER_get_block_size(algorithm));
  return true;
}

bool CbcCipher::Run(uint8_t* data, size_t size) {
  if (ctx_ == nullptr || block_ == 0 || size % block_ != 0) return false;
  constexpr size_t kPiece = size_t{1} << 30;  // EVP counts in int
  while (size > 0) {
    const size_t piece = std::min(size, kPiece);
    int written = 0;
    if (EVP_CipherUpdate(ctx_, data, &written, data, static_cast<int>(piece)) != 1 ||
        static_cast<size_t>(written) != piece)
      return false;
    data += piece;
    size -= piece;
  }
  return true;
}

}  // namespace tx::crypto
