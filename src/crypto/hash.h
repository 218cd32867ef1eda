// Message digests: MD5, RIPEMD-160, SHA-1, SHA-256, SHA-512 and Whirlpool. Each context
// type is owned by the caller and frees its OpenSSL state on destruction. Final writes
// the digest and then clears the context, so a stray Update or Final afterwards (or
// before any Init) does nothing harmful: Update ignores the bytes and Final writes zeros.
#pragma once

#include <openssl/types.h>

#include <cstddef>
#include <cstdint>

namespace tx::crypto {

inline constexpr size_t kMd5Size = 16;
inline constexpr size_t kRmd160Size = 20;
inline constexpr size_t kSha1Size = 20;
inline constexpr size_t kSha256Size = 32;
inline constexpr size_t kSha512Size = 64;
inline constexpr size_t kWhirlpoolSize = 64;

namespace detail {

// One running digest. The EVP_MD_CTX is allocated by the first Init and kept, so Update
// never allocates; Final frees the algorithm state (which OpenSSL wipes).
class DigestContext {
 public:
  DigestContext() = default;
  ~DigestContext();
  DigestContext(DigestContext&& other) noexcept;
  DigestContext& operator=(DigestContext&& other) noexcept;
  DigestContext(const DigestContext&) = delete;
  DigestContext& operator=(const DigestContext&) = delete;

  bool Init(const EVP_MD* md);
  void Update(const void* data, size_t size);
  void Final(uint8_t* out, size_t size);

 private:
  EVP_MD_CTX* ctx_ = nullptr;
  bool active_ = false;
};

}  // namespace detail

// Separate types so that a context cannot be finished by the wrong algorithm.
class Md5Context : public detail::DigestContext {};
class Rmd160Context : public detail::DigestContext {};
class Sha1Context : public detail::DigestContext {};
class Sha256Context : public detail::DigestContext {};
class Sha512Context : public detail::DigestContext {};
class WhirlpoolContext : public detail::DigestContext {};

// Init fails only when OpenSSL cannot allocate or fetch the algorithm.
[[nodiscard]] bool Md5Init(Md5Context& ctx);
void Md5Update(Md5Context& ctx, const void* data, size_t size);
void Md5Final(Md5Context& ctx, uint8_t* out);  // kMd5Size bytes

[[nodiscard]] bool Rmd160Init(Rmd160Context& ctx);
void Rmd160Update(Rmd160Context& ctx, const void* data, size_t size);
void Rmd160Final(Rmd160Context& ctx, uint8_t* out);  // kRmd160Size bytes

[[nodiscard]] bool Sha1Init(Sha1Context& ctx);
void Sha1Update(Sha1Context& ctx, const void* data, size_t size);
void Sha1Final(Sha1Context& ctx, uint8_t* out);  // kSha1Size bytes

[[nodiscard]] bool Sha256Init(Sha256Context& ctx);
void Sha256Update(Sha256Context& ctx, const void* data, size_t size);
void Sha256Final(Sha256Context& ctx, uint8_t* out);  // kSha256Size bytes

[[nodiscard]] bool Sha512Init(Sha512Context& ctx);
void Sha512Update(Sha512Context& ctx, const void* data, size_t size);
void Sha512Final(Sha512Context& ctx, uint8_t* out);  // kSha512Size bytes

[[nodiscard]] bool WhirlpoolInit(WhirlpoolContext& ctx);
void WhirlpoolUpdate(WhirlpoolContext& ctx, const void* data, size_t size);
void WhirlpoolFinal(WhirlpoolContext& ctx, uint8_t* out);  // kWhirlpoolSize bytes

// One-shot digests of a buffer; false only when OpenSSL fails (`out` is then zeroed).
[[nodiscard]] bool Md5Digest(const void* data, size_t size, uint8_t* out);
[[nodiscard]] bool Sha1Digest(const void* data, size_t size, uint8_t* out);

}  // namespace tx::crypto
