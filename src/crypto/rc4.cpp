#include "crypto/rc4.h"

#include <openssl/crypto.h>

#include <utility>

namespace tx::crypto {

Rc4::Rc4(const void* key, size_t key_size) {
  const auto* k = static_cast<const uint8_t*>(key);
  for (unsigned n = 0; n < 256; ++n) s_[n] = static_cast<uint8_t>(n);
  uint8_t j = 0;
  for (unsigned n = 0; n < 256; ++n) {
    // An empty key is treated as one zero byte rather than read out of bounds.
    j = static_cast<uint8_t>(j + s_[n] + (key_size == 0 ? 0 : k[n % key_size]));
    std::swap(s_[n], s_[j]);
  }
}

Rc4::~Rc4() {
  OPENSSL_cleanse(s_, sizeof s_);
  OPENSSL_cleanse(&i_, sizeof i_);
  OPENSSL_cleanse(&j_, sizeof j_);
}

uint8_t Rc4::NextByte() {
  i_ = static_cast<uint8_t>(i_ + 1);
  j_ = static_cast<uint8_t>(j_ + s_[i_]);
  std::swap(s_[i_], s_[j_]);
  return s_[static_cast<uint8_t>(s_[i_] + s_[j_])];
}

void Rc4::Discard(size_t count) {
  for (size_t n = 0; n < count; ++n) NextByte();
}

void Rc4::XorKeystream(void* data, size_t size) {
  auto* p = static_cast<uint8_t*>(data);
  for (size_t n = 0; n < size; ++n) p[n] ^= NextByte();
}

}  // namespace tx::crypto
