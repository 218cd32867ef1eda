// EAX authenticated encryption (Bellare, Rogaway, Wagner) over AES-128/192/256 with a nonce
// of any length, and the two layers it is made of: counter mode with a 128-bit big-endian
// counter, and OMAC1 (CMAC). Everything streams: pieces of any length continue one another.
// Keystream is made many blocks per AES call and the OMAC runs as CBC over whole blocks,
// into buffers held in the contexts, so no piece allocates.
#pragma once

#include <cstddef>
#include <cstdint>

#include "crypto/aes.h"

namespace tx::crypto {

inline constexpr size_t kEaxTagSize = 16;

// Counter-mode keystream: AES(counter), AES(counter + 1), ..., the counter a 128-bit
// big-endian number that wraps. The key is passed to every call so that the stream can live
// beside the key it serves.
class AesCtrStream {
 public:
  AesCtrStream() = default;
  ~AesCtrStream() { Wipe(); }
  AesCtrStream(const AesCtrStream&) = delete;
  AesCtrStream& operator=(const AesCtrStream&) = delete;

  // The first keystream block will be AES(counter).
  void Start(const uint8_t counter[kAesBlockSize]);
  // XORs the next `size` keystream bytes into `data`. False only when AES fails; `data`
  // is then zeroed so that no plain text leaves as if it were encrypted.
  [[nodiscard]] bool Apply(uint8_t* data, size_t size, const AesEncryptContext& key);
  void Wipe();

 private:
  static constexpr size_t kBlocks = 64;  // keystream made per AES call
  bool Refill(const AesEncryptContext& key);

  uint8_t counter_[kAesBlockSize] = {};
  uint8_t stream_[kBlocks * kAesBlockSize] = {};
  size_t used_ = sizeof stream_;  // keystream bytes of stream_ already spent
};

namespace detail {

// OMAC1 (CMAC) over AES. The key and the subkeys K1, K2 belong to the caller, so that the
// three OMACs of EAX share them. The last block is held back until Final, since CMAC
// treats it differently.
class Omac {
 public:
  Omac() = default;
  ~Omac() { Wipe(); }
  Omac(const Omac&) = delete;
  Omac& operator=(const Omac&) = delete;

  // EAX's tweaked OMAC: a first block of fifteen zero bytes and `tweak`.
  void Start(uint8_t tweak);
  [[nodiscard]] bool Update(const uint8_t* data, size_t size, AesEncryptContext& key);
  // Writes the 16-byte MAC and wipes the state.
  [[nodiscard]] bool Final(const uint8_t* k1, const uint8_t* k2, AesEncryptContext& key, uint8_t* out);
  void Wipe();

  static constexpr size_t kScratch = 4096;

 private:
  uint8_t value_[kAesBlockSize] = {};    // CBC-MAC of the blocks absorbed so far
  uint8_t pending_[kAesBlockSize] = {};  // the latest block, perhaps partial, not yet absorbed
  size_t pending_size_ = 0;
  uint8_t scratch_[kScratch] = {};  // CBC runs here, leaving the message as it is
};

}  // namespace detail

// One EAX message. Wiped by EaxFinal and on destruction.
class EaxContext {
 public:
  EaxContext() = default;
  ~EaxContext() { Wipe(); }
  EaxContext(const EaxContext&) = delete;
  EaxContext& operator=(const EaxContext&) = delete;

 private:
  friend bool EaxInit(EaxContext& ctx, const void* key, size_t key_len, const void* nonce, size_t nonce_len,
                      const void* header, size_t header_len);
  friend bool EaxEncrypt(EaxContext& ctx, uint8_t* data, size_t size);
  friend bool EaxDecrypt(EaxContext& ctx, uint8_t* data, size_t size);
  friend bool EaxFinal(EaxContext& ctx, uint8_t* tag);
  void Wipe();

  AesEncryptContext aes_;
  AesCtrStream ctr_;
  detail::Omac mac_;  // over the cipher text
  uint8_t k1_[kAesBlockSize] = {};
  uint8_t k2_[kAesBlockSize] = {};
  uint8_t fixed_tag_[kAesBlockSize] = {};  // nonce OMAC xor header OMAC
  bool ready_ = false;
};

// Keys the context (16, 24 or 32 key bytes) for the nonce and the associated header; either
// may be empty. False when the key length is wrong or AES fails; the context is then unkeyed.
[[nodiscard]] bool EaxInit(EaxContext& ctx, const void* key, size_t key_len, const void* nonce,
                           size_t nonce_len, const void* header = nullptr, size_t header_len = 0);
// Encrypts in place and authenticates the cipher text.
[[nodiscard]] bool EaxEncrypt(EaxContext& ctx, uint8_t* data, size_t size);
// Authenticates the cipher text, then decrypts it in place.
[[nodiscard]] bool EaxDecrypt(EaxContext& ctx, uint8_t* data, size_t size);
// Writes the kEaxTagSize-byte tag (zeros when the context failed or was never keyed) and
// wipes the context. A shorter tag is a prefix of this one.
[[nodiscard]] bool EaxFinal(EaxContext& ctx, uint8_t* tag);

}  // namespace tx::crypto
