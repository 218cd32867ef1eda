#include "crypto/hash.h"

#include <openssl/evp.h>

#include <cstring>
#include <utility>

#include "crypto/provider.h"

namespace tx::crypto {
namespace detail {

DigestContext::~DigestContext() { EVP_MD_CTX_free(ctx_); }

DigestContext::DigestContext(DigestContext&& other) noexcept
    : ctx_(std::exchange(other.ctx_, nullptr)), active_(std::exchange(other.active_, false)) {}

DigestContext& DigestContext::operator=(DigestContext&& other) noexcept {
  if (this != &other) {
    EVP_MD_CTX_free(ctx_);
    ctx_ = std::exchange(other.ctx_, nullptr);
    active_ = std::exchange(other.active_, false);
  }
  return *this;
}

bool DigestContext::Init(const EVP_MD* md) {
  active_ = false;
  if (md == nullptr) return false;
  if (ctx_ == nullptr && (ctx_ = EVP_MD_CTX_new()) == nullptr) return false;
  if (EVP_DigestInit_ex2(ctx_, md, nullptr) != 1) {
    EVP_MD_CTX_reset(ctx_);
    return false;
  }
  active_ = true;
  return true;
}

void DigestContext::Update(const void* data, size_t size) {
  // A cleared context has no algorithm; OpenSSL would call through a null pointer.
  if (!active_ || size == 0) return;
  EVP_DigestUpdate(ctx_, data, size);
}

void DigestContext::Final(uint8_t* out, size_t size) {
  if (!active_ || EVP_DigestFinal_ex(ctx_, out, nullptr) != 1) std::memset(out, 0, size);
  // The reset frees the algorithm state through OpenSSL's wiping free.
  if (ctx_ != nullptr) EVP_MD_CTX_reset(ctx_);
  active_ = false;
}

}  // namespace detail

namespace {

bool OneShot(DigestKind kind, const void* data, size_t size, uint8_t* out, size_t out_size) {
  const EVP_MD* md = FetchDigest(kind);
  if (md != nullptr && EVP_Digest(data, size, out, nullptr, md, nullptr) == 1) return true;
  std::memset(out, 0, out_size);
  return false;
}

}  // namespace

bool Md5Init(Md5Context& ctx) { return ctx.Init(FetchDigest(DigestKind::Md5)); }
void Md5Update(Md5Context& ctx, const void* data, size_t size) { ctx.Update(data, size); }
void Md5Final(Md5Context& ctx, uint8_t* out) { ctx.Final(out, kMd5Size); }

bool Rmd160Init(Rmd160Context& ctx) { return ctx.Init(FetchDigest(DigestKind::Rmd160)); }
void Rmd160Update(Rmd160Context& ctx, const void* data, size_t size) { ctx.Update(data, size); }
void Rmd160Final(Rmd160Context& ctx, uint8_t* out) { ctx.Final(out, kRmd160Size); }

bool Sha1Init(Sha1Context& ctx) { return ctx.Init(FetchDigest(DigestKind::Sha1)); }
void Sha1Update(Sha1Context& ctx, const void* data, size_t size) { ctx.Update(data, size); }
void Sha1Final(Sha1Context& ctx, uint8_t* out) { ctx.Final(out, kSha1Size); }

bool Sha256Init(Sha256Context& ctx) { return ctx.Init(FetchDigest(DigestKind::Sha256)); }
void Sha256Update(Sha256Context& ctx, const void* data, size_t size) { ctx.Update(data, size); }
void Sha256Final(Sha256Context& ctx, uint8_t* out) { ctx.Final(out, kSha256Size); }

bool Sha512Init(Sha512Context& ctx) { return ctx.Init(FetchDigest(DigestKind::Sha512)); }
void Sha512Update(Sha512Context& ctx, const void* data, size_t size) { ctx.Update(data, size); }
void Sha512Final(Sha512Context& ctx, uint8_t* out) { ctx.Final(out, kSha512Size); }

bool WhirlpoolInit(WhirlpoolContext& ctx) { return ctx.Init(FetchDigest(DigestKind::Whirlpool)); }
void WhirlpoolUpdate(WhirlpoolContext& ctx, const void* data, size_t size) { ctx.Update(data, size); }
void WhirlpoolFinal(WhirlpoolContext& ctx, uint8_t* out) { ctx.Final(out, kWhirlpoolSize); }

bool Md5Digest(const void* data, size_t size, uint8_t* out) {
  return OneShot(DigestKind::Md5, data, size, out, kMd5Size);
}

bool Sha1Digest(const void* data, size_t size, uint8_t* out) {
  return OneShot(DigestKind::Sha1, data, size, out, kSha1Size);
}

}  // namespace tx::crypto
