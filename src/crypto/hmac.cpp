#include "crypto/hmac.h"

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>
#include <openssl/params.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>

#include "crypto/provider.h"

namespace tx::crypto {
namespace {

// OpenSSL treats a null buffer as "not given"; an empty key or password must still count.
// A null pointer is taken as empty, so `size` is cleared with it.
const unsigned char kEmpty[1] = {0};

void* Bytes(const void* data, size_t& size) {
  if (data == nullptr) size = 0;
  return const_cast<void*>(size == 0 ? static_cast<const void*>(kEmpty) : data);
}

bool Pbkdf2(const char* digest, const void* password, size_t password_len, const void* salt, size_t salt_len,
            uint32_t iterations, uint8_t* out, size_t out_len) {
  if (out_len == 0) return iterations != 0;
  bool ok = false;
  EVP_KDF* kdf = FetchPbkdf2();
  if (iterations != 0 && kdf != nullptr) {
    // Freeing the KDF context wipes the password copy OpenSSL keeps.
    std::unique_ptr<EVP_KDF_CTX, decltype(&EVP_KDF_CTX_free)> ctx(EVP_KDF_CTX_new(kdf), EVP_KDF_CTX_free);
    uint64_t iter = iterations;
    int pkcs5 = 1;  // no minimum salt, key or iteration sizes: short salts are in use
    salt_len = std::min(salt_len, kPbkdf2MaxSalt);
    void* password_bytes = Bytes(password, password_len);
    void* salt_bytes = Bytes(salt, salt_len);
    OSSL_PARAM params[] = {
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_PASSWORD, password_bytes, password_len),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SALT, salt_bytes, salt_len),
        OSSL_PARAM_construct_uint64(OSSL_KDF_PARAM_ITER, &iter),
        OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, const_cast<char*>(digest), 0),
        OSSL_PARAM_construct_int(OSSL_KDF_PARAM_PKCS5, &pkcs5),
        OSSL_PARAM_construct_end(),
    };
    ok = ctx != nullptr && EVP_KDF_derive(ctx.get(), out, out_len, params) == 1;
  }
  if (!ok) std::memset(out, 0, out_len);
  return ok;
}

}  // namespace

HmacSha1Context::~HmacSha1Context() { EVP_MAC_CTX_free(ctx_); }

HmacSha1Context::HmacSha1Context(HmacSha1Context&& other) noexcept
    : ctx_(std::exchange(other.ctx_, nullptr)) {}

HmacSha1Context& HmacSha1Context::operator=(HmacSha1Context&& other) noexcept {
  if (this != &other) {
    EVP_MAC_CTX_free(ctx_);
    ctx_ = std::exchange(other.ctx_, nullptr);
  }
  return *this;
}

bool HmacSha1Init(HmacSha1Context& ctx, const void* key, size_t key_len) {
  EVP_MAC_CTX_free(ctx.ctx_);
  ctx.ctx_ = nullptr;
  EVP_MAC* mac = FetchHmac();
  if (mac == nullptr) return false;
  EVP_MAC_CTX* made = EVP_MAC_CTX_new(mac);
  if (made == nullptr) return false;
  char digest[] = "SHA1";
  OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0),
                         OSSL_PARAM_construct_end()};
  const auto* key_bytes = static_cast<const unsigned char*>(Bytes(key, key_len));
  if (EVP_MAC_init(made, key_bytes, key_len, params) != 1) {
    EVP_MAC_CTX_free(made);
    return false;
  }
  ctx.ctx_ = made;
  return true;
}

void HmacSha1Update(HmacSha1Context& ctx, const void* data, size_t size) {
  if (ctx.ctx_ == nullptr || size == 0) return;
  EVP_MAC_update(ctx.ctx_, static_cast<const unsigned char*>(data), size);
}

void HmacSha1Final(HmacSha1Context& ctx, uint8_t* out) {
  size_t written = 0;
  if (ctx.ctx_ == nullptr || EVP_MAC_final(ctx.ctx_, out, &written, kHmacSha1Size) != 1 ||
      written != kHmacSha1Size) {
    std::memset(out, 0, kHmacSha1Size);
  }
  EVP_MAC_CTX_free(ctx.ctx_);
  ctx.ctx_ = nullptr;
}

bool Pbkdf2Sha1(const void* password, size_t password_len, const void* salt, size_t salt_len,
                uint32_t iterations, uint8_t* out, size_t out_len) {
  return Pbkdf2("SHA1", password, password_len, salt, salt_len, iterations, out, out_len);
}

bool Pbkdf2Whirlpool(const void* password, size_t password_len, const void* salt, size_t salt_len,
                     uint32_t iterations, uint8_t* out, size_t out_len) {
  return Pbkdf2("WHIRLPOOL", password, password_len, salt, salt_len, iterations, out, out_len);
}

}  // namespace tx::crypto
