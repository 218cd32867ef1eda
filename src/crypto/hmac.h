// HMAC-SHA1 and PBKDF2 over HMAC-SHA1 or HMAC-Whirlpool.
#pragma once

#include <openssl/types.h>

#include <cstddef>
#include <cstdint>

namespace tx::crypto {

inline constexpr size_t kHmacSha1Size = 20;
// PBKDF2 uses at most this many bytes of a salt; stored archives were made that way.
inline constexpr size_t kPbkdf2MaxSalt = 64;

// The OpenSSL MAC state holds the key; it is freed (and so wiped by OpenSSL) at Final and
// on destruction. As with the digests, Update and Final on a finished context are harmless.
class HmacSha1Context {
 public:
  HmacSha1Context() = default;
  ~HmacSha1Context();
  HmacSha1Context(HmacSha1Context&& other) noexcept;
  HmacSha1Context& operator=(HmacSha1Context&& other) noexcept;
  HmacSha1Context(const HmacSha1Context&) = delete;
  HmacSha1Context& operator=(const HmacSha1Context&) = delete;

 private:
  friend bool HmacSha1Init(HmacSha1Context& ctx, const void* key, size_t key_len);
  friend void HmacSha1Update(HmacSha1Context& ctx, const void* data, size_t size);
  friend void HmacSha1Final(HmacSha1Context& ctx, uint8_t* out);

  EVP_MAC_CTX* ctx_ = nullptr;
};

// A key longer than the 64-byte block acts as its SHA-1 digest. Fails only when OpenSSL
// cannot allocate or fetch.
[[nodiscard]] bool HmacSha1Init(HmacSha1Context& ctx, const void* key, size_t key_len);
void HmacSha1Update(HmacSha1Context& ctx, const void* data, size_t size);
// Writes kHmacSha1Size bytes (zeros on a context without a key) and clears the context.
void HmacSha1Final(HmacSha1Context& ctx, uint8_t* out);

// Fill `out` with PBKDF2 keyed by the password. False (with `out` zeroed) when OpenSSL
// fails or `iterations` is 0.
[[nodiscard]] bool Pbkdf2Sha1(const void* password, size_t password_len, const void* salt, size_t salt_len,
                              uint32_t iterations, uint8_t* out, size_t out_len);
[[nodiscard]] bool Pbkdf2Whirlpool(const void* password, size_t password_len, const void* salt,
                                   size_t salt_len, uint32_t iterations, uint8_t* out, size_t out_len);

}  // namespace tx::crypto
