#include "crypto/key_transport.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include <algorithm>
#include <cstring>

namespace tx::crypto {

namespace {

constexpr size_t kSessionKeySize = 24;
constexpr uint8_t kSimpleBlob = 1;
constexpr uint8_t kBlobVersion = 2;

struct Context {
  EVP_PKEY_CTX* p = nullptr;
  ~Context() { EVP_PKEY_CTX_free(p); }
};

bool SetPadding(EVP_PKEY_CTX* ctx, bool oaep) {
  if (!oaep) return EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING) > 0;
  return EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_OAEP_PADDING) > 0 &&
         EVP_PKEY_CTX_set_rsa_oaep_md(ctx, EVP_sha1()) > 0 &&
         EVP_PKEY_CTX_set_rsa_mgf1_md(ctx, EVP_sha1()) > 0;
}

void PutU32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

uint32_t GetU32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

}  // namespace

bool WrapSessionKey(EVP_PKEY* recipient, const uint8_t* key, size_t key_size, bool oaep,
                    std::vector<uint8_t>& blob) {
  blob.clear();
  if (recipient == nullptr || EVP_PKEY_get_base_id(recipient) != EVP_PKEY_RSA || key_size != kSessionKeySize)
    return false;
  const size_t modulus = static_cast<size_t>(EVP_PKEY_get_size(recipient));
  if (modulus == 0 || kKeyBlobHeader + modulus > kMaxKeyBlob) return false;
  Context ctx{EVP_PKEY_CTX_new(recipient, nullptr)};
  if (ctx.p == nullptr || EVP_PKEY_encrypt_init(ctx.p) <= 0 || !SetPadding(ctx.p, oaep)) return false;
  blob.assign(kKeyBlobHeader + modulus, 0);
  size_t out = modulus;
  if (EVP_PKEY_encrypt(ctx.p, blob.data() + kKeyBlobHeader, &out, key, key_size) <= 0 || out != modulus) {
    blob.clear();
    return false;
  }
  blob[0] = kSimpleBlob;
  blob[1] = kBlobVersion;
  PutU32(blob.data() + 4, kAlgTripleDes);
  PutU32(blob.data() + 8, kAlgRsaKeyExchange);
  std::reverse(blob.begin() + kKeyBlobHeader, blob.end());
  return true;
}

bool UnwrapSessionKey(EVP_PKEY* holder, const uint8_t* blob, size_t size, bool oaep, uint8_t key[24]) {
  if (holder == nullptr || EVP_PKEY_get_base_id(holder) != EVP_PKEY_RSA || blob == nullptr) return false;
  const size_t modulus = static_cast<size_t>(EVP_PKEY_get_size(holder));
  if (size != kKeyBlobHeader + modulus || size > kMaxKeyBlob || blob[0] != kSimpleBlob ||
      GetU32(blob + 4) != kAlgTripleDes || GetU32(blob + 8) != kAlgRsaKeyExchange)
    return false;
  uint8_t cipher[kMaxKeyBlob];
  std::reverse_copy(blob + kKeyBlobHeader, blob + size, cipher);
  uint8_t plain[kMaxKeyBlob];
  size_t out = sizeof plain;
  Context ctx{EVP_PKEY_CTX_new(holder, nullptr)};
  const bool done = ctx.p != nullptr && EVP_PKEY_decrypt_init(ctx.p) > 0 && SetPadding(ctx.p, oaep) &&
                    EVP_PKEY_decrypt(ctx.p, plain, &out, cipher, modulus) > 0 && out == kSessionKeySize;
  if (done) std::memcpy(key, plain, kSessionKeySize);
  OPENSSL_cleanse(plain, sizeof plain);
  return done;
}

}  // namespace tx::crypto
