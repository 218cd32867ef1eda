#include "crypto/aes.h"

#include <openssl/evp.h>

#include <algorithm>
#include <utility>

#include "crypto/provider.h"

namespace tx::crypto {
namespace {

// EVP takes int lengths; larger buffers go through in whole-block pieces of this size.
constexpr size_t kMaxPiece = size_t{1} << 30;

// Runs `bytes` (whole blocks) through `ctx`; in-place use is allowed.
bool Run(EVP_CIPHER_CTX* ctx, const uint8_t* in, uint8_t* out, size_t bytes) {
  while (bytes > 0) {
    size_t piece = std::min(bytes, kMaxPiece);
    int written = 0;
    if (EVP_CipherUpdate(ctx, out, &written, in, static_cast<int>(piece)) != 1 ||
        static_cast<size_t>(written) != piece) {
      return false;
    }
    in += piece;
    out += piece;
    bytes -= piece;
  }
  return true;
}

// Keys and resets `ctx` for `cipher`; padding off so that no block is ever held back.
bool Key(EVP_CIPHER_CTX*& ctx, const EVP_CIPHER* cipher, const void* key, bool encrypt) {
  if (cipher == nullptr) return false;
  if (ctx == nullptr && (ctx = EVP_CIPHER_CTX_new()) == nullptr) return false;
  return EVP_CipherInit_ex2(ctx, cipher, static_cast<const unsigned char*>(key), nullptr, encrypt ? 1 : 0,
                            nullptr) == 1 &&
         EVP_CIPHER_CTX_set_padding(ctx, 0) == 1;
}

}  // namespace

namespace detail {

AesKeySchedule::~AesKeySchedule() { Clear(); }

AesKeySchedule::AesKeySchedule(AesKeySchedule&& other) noexcept
    : ecb_(std::exchange(other.ecb_, nullptr)),
      cbc_(std::exchange(other.cbc_, nullptr)),
      encrypt_(other.encrypt_) {}

AesKeySchedule& AesKeySchedule::operator=(AesKeySchedule&& other) noexcept {
  if (this != &other) {
    Clear();
    ecb_ = std::exchange(other.ecb_, nullptr);
    cbc_ = std::exchange(other.cbc_, nullptr);
    encrypt_ = other.encrypt_;
  }
  return *this;
}

void AesKeySchedule::Clear() {
  // OpenSSL frees the key schedule with a wiping free.
  EVP_CIPHER_CTX_free(ecb_);
  EVP_CIPHER_CTX_free(cbc_);
  ecb_ = nullptr;
  cbc_ = nullptr;
}

int AesKeySchedule::SetKey(const void* key, unsigned key_len, bool encrypt) {
  unsigned bytes = key_len;
  if (bytes == 128 || bytes == 192 || bytes == 256) bytes /= 8;
  if (bytes != 16 && bytes != 24 && bytes != 32) {
    Clear();
    return kAesKeyBadLength;
  }
  if (key == nullptr) {
    Clear();
    return kAesKeyFailed;
  }
  int size_index = static_cast<int>((bytes - 16) / 8);  // 0, 1, 2 for 128, 192, 256 bits
  auto ecb_kind = static_cast<CipherKind>(static_cast<int>(CipherKind::Aes128Ecb) + size_index);
  auto cbc_kind = static_cast<CipherKind>(static_cast<int>(CipherKind::Aes128Cbc) + size_index);
  encrypt_ = encrypt;
  if (!Key(ecb_, FetchCipher(ecb_kind), key, encrypt) || !Key(cbc_, FetchCipher(cbc_kind), key, encrypt)) {
    Clear();
    return kAesKeyFailed;
  }
  return kAesKeyOk;
}

bool AesKeySchedule::Ecb(const void* in, void* out, size_t bytes) const {
  if (ecb_ == nullptr) return false;
  return Run(ecb_, static_cast<const uint8_t*>(in), static_cast<uint8_t*>(out), bytes);
}

bool AesKeySchedule::Cbc(void* buffer, size_t size, uint8_t* chaining) {
  if (cbc_ == nullptr) return false;
  size_t bytes = size - size % kAesBlockSize;
  if (bytes == 0) return true;
  // A new IV on the keyed context: no rekeying and no allocation.
  if (EVP_CipherInit_ex2(cbc_, nullptr, nullptr, chaining, encrypt_ ? 1 : 0, nullptr) != 1 ||
      EVP_CIPHER_CTX_set_padding(cbc_, 0) != 1) {
    return false;
  }
  auto* data = static_cast<uint8_t*>(buffer);
  return Run(cbc_, data, data, bytes) && EVP_CIPHER_CTX_get_updated_iv(cbc_, chaining, kAesBlockSize) == 1;
}

}  // namespace detail

int AesSetEncryptKey(const void* key, unsigned key_len, AesEncryptContext& ctx) {
  return ctx.schedule_.SetKey(key, key_len, true);
}

int AesSetDecryptKey(const void* key, unsigned key_len, AesDecryptContext& ctx) {
  return ctx.schedule_.SetKey(key, key_len, false);
}

bool AesEncryptBlock(const void* in, void* out, const AesEncryptContext& ctx) {
  return ctx.schedule_.Ecb(in, out, kAesBlockSize);
}

bool AesDecryptBlock(const void* in, void* out, const AesDecryptContext& ctx) {
  return ctx.schedule_.Ecb(in, out, kAesBlockSize);
}

bool AesEcbEncrypt(const void* in, void* out, size_t blocks, const AesEncryptContext& ctx) {
  return ctx.schedule_.Ecb(in, out, blocks * kAesBlockSize);
}

bool AesCbcEncrypt(void* buffer, size_t size, uint8_t* chaining, AesEncryptContext& ctx) {
  return ctx.schedule_.Cbc(buffer, size, chaining);
}

bool AesCbcDecrypt(void* buffer, size_t size, uint8_t* chaining, AesDecryptContext& ctx) {
  return ctx.schedule_.Cbc(buffer, size, chaining);
}

}  // namespace tx::crypto
