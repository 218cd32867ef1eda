#include "crypto/rsa_signature.h"

#include <openssl/evp.h>
#include <openssl/rsa.h>

#include <algorithm>

namespace tx::crypto {

namespace {

struct Context {
  EVP_PKEY_CTX* p = nullptr;
  ~Context() { EVP_PKEY_CTX_free(p); }
};

const EVP_MD* MdOf(SignedDigest kind) { return kind == SignedDigest::kMd5 ? EVP_md5() : EVP_sha1(); }
size_t SizeOf(SignedDigest kind) { return kind == SignedDigest::kMd5 ? 16 : 20; }

bool Prepare(EVP_PKEY_CTX* ctx, SignedDigest kind) {
  return EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING) > 0 &&
         EVP_PKEY_CTX_set_signature_md(ctx, MdOf(kind)) > 0;
}

}  // namespace

bool SignDigest(EVP_PKEY* signer, SignedDigest kind, const uint8_t* digest, size_t digest_size,
                std::vector<uint8_t>& signature) {
  signature.clear();
  if (signer == nullptr || EVP_PKEY_get_base_id(signer) != EVP_PKEY_RSA || digest_size != SizeOf(kind))
    return false;
  Context ctx{EVP_PKEY_CTX_new(signer, nullptr)};
  if (ctx.p == nullptr || EVP_PKEY_sign_init(ctx.p) <= 0 || !Prepare(ctx.p, kind)) return false;
  size_t size = 0;
  if (EVP_PKEY_sign(ctx.p, nullptr, &size, digest, digest_size) <= 0) return false;
  signature.resize(size);
  if (EVP_PKEY_sign(ctx.p, signature.data(), &size, digest, digest_size) <= 0) {
    signature.clear();
    return false;
  }
  signature.resize(size);
  std::reverse(signature.begin(), signature.end());
  return true;
}

bool VerifyDigest(EVP_PKEY* key, SignedDigest kind, const uint8_t* digest, size_t digest_size,
                  const uint8_t* signature, size_t size) {
  if (key == nullptr || EVP_PKEY_get_base_id(key) != EVP_PKEY_RSA || digest_size != SizeOf(kind) || size == 0)
    return false;
  std::vector<uint8_t> big_endian(signature, signature + size);
  std::reverse(big_endian.begin(), big_endian.end());
  Context ctx{EVP_PKEY_CTX_new(key, nullptr)};
  return ctx.p != nullptr && EVP_PKEY_verify_init(ctx.p) > 0 && Prepare(ctx.p, kind) &&
         EVP_PKEY_verify(ctx.p, big_endian.data(), big_endian.size(), digest, digest_size) == 1;
}

}  // namespace tx::crypto
