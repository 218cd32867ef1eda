// AES block operations, whole-block ECB and in-place CBC with a carried chaining value.
// The contexts keep keyed OpenSSL cipher contexts, so no block or CBC call allocates; the
// key schedules are freed through OpenSSL's wiping free on rekeying and destruction.
#pragma once

#include <openssl/types.h>

#include <cstddef>
#include <cstdint>

namespace tx::crypto {

inline constexpr size_t kAesBlockSize = 16;

// AesSetEncryptKey / AesSetDecryptKey results.
inline constexpr int kAesKeyOk = 0;
inline constexpr int kAesKeyBadLength = 1;
inline constexpr int kAesKeyFailed = 2;  // OpenSSL could not allocate or fetch

namespace detail {

// One ECB context for single blocks and keystream runs, one CBC context for the modes
// that chain. Both hold the same key in the same direction.
class AesKeySchedule {
 public:
  AesKeySchedule() = default;
  ~AesKeySchedule();
  AesKeySchedule(AesKeySchedule&& other) noexcept;
  AesKeySchedule& operator=(AesKeySchedule&& other) noexcept;
  AesKeySchedule(const AesKeySchedule&) = delete;
  AesKeySchedule& operator=(const AesKeySchedule&) = delete;

  int SetKey(const void* key, unsigned key_len, bool encrypt);
  bool Ecb(const void* in, void* out, size_t bytes) const;  // bytes: a multiple of 16
  bool Cbc(void* buffer, size_t size, uint8_t* chaining);

 private:
  void Clear();

  EVP_CIPHER_CTX* ecb_ = nullptr;
  EVP_CIPHER_CTX* cbc_ = nullptr;
  bool encrypt_ = true;
};

}  // namespace detail

class AesEncryptContext {
 private:
  friend int AesSetEncryptKey(const void* key, unsigned key_len, AesEncryptContext& ctx);
  friend bool AesEncryptBlock(const void* in, void* out, const AesEncryptContext& ctx);
  friend bool AesEcbEncrypt(const void* in, void* out, size_t blocks, const AesEncryptContext& ctx);
  friend bool AesCbcEncrypt(void* buffer, size_t size, uint8_t* chaining, AesEncryptContext& ctx);

  detail::AesKeySchedule schedule_;
};

class AesDecryptContext {
 private:
  friend int AesSetDecryptKey(const void* key, unsigned key_len, AesDecryptContext& ctx);
  friend bool AesDecryptBlock(const void* in, void* out, const AesDecryptContext& ctx);
  friend bool AesCbcDecrypt(void* buffer, size_t size, uint8_t* chaining, AesDecryptContext& ctx);

  detail::AesKeySchedule schedule_;
};

// The key length is given in bytes (16, 24, 32) or in bits (128, 192, 256). Result
// kAesKeyOk, kAesKeyBadLength for any other length, or kAesKeyFailed; after a failure the
// context holds no key and every operation on it fails.
[[nodiscard]] int AesSetEncryptKey(const void* key, unsigned key_len, AesEncryptContext& ctx);
[[nodiscard]] int AesSetDecryptKey(const void* key, unsigned key_len, AesDecryptContext& ctx);

// One 16-byte block; `in` may equal `out`. False only on a context without a key.
[[nodiscard]] bool AesEncryptBlock(const void* in, void* out, const AesEncryptContext& ctx);
[[nodiscard]] bool AesDecryptBlock(const void* in, void* out, const AesDecryptContext& ctx);

// `blocks` independent blocks in one call, so that the hardware pipelines them (counter
// mode keystreams). `in` may equal `out`.
[[nodiscard]] bool AesEcbEncrypt(const void* in, void* out, size_t blocks, const AesEncryptContext& ctx);

// CBC in place over the whole 16-byte blocks of `buffer`; a shorter tail is left as it is.
// `chaining` (16 bytes) enters as the IV and leaves as the last ciphertext block, so
// consecutive calls continue one stream.
[[nodiscard]] bool AesCbcEncrypt(void* buffer, size_t size, uint8_t* chaining, AesEncryptContext& ctx);
[[nodiscard]] bool AesCbcDecrypt(void* buffer, size_t size, uint8_t* chaining, AesDecryptContext& ctx);

}  // namespace tx::crypto
