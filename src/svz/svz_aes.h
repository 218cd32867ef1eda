// The 7z AES coder: the password as UTF-16LE, the key derived by iterated SHA-256 over
// salt, password and a counter, and AES-256-CBC over a folder's stream or a packed header.
#pragma once

#include <cstddef>
#include <cstdint>

#include "crypto/aes.h"
#include "frame/secrets.h"
#include "frame/status.h"
#include "svz/svz_header.h"

namespace tx::svz {

namespace place {
inline constexpr uint8_t kKeyDerivation = 0x17;
}  // namespace place

inline constexpr size_t kKeySize = 32;

// The password as the key derivation hashes it: UTF-16LE code units, no terminator.
class WidePassword {
 public:
  WidePassword() = default;
  ~WidePassword() { Clear(); }
  WidePassword(const WidePassword&) = delete;
  WidePassword& operator=(const WidePassword&) = delete;

  // False when the password is not valid UTF-8. A password cut at its limit loses the
  // character the cut went through, not just some of its bytes.
  bool Set(const frame::Password& password);
  void Clear();
  const uint8_t* data() const { return bytes_; }
  size_t size() const { return size_; }

 private:
  uint8_t bytes_[2 * (frame::kMaxPassword + 1)] = {};
  size_t size_ = 0;
};

// SHA-256 over U(0) .. U(2^cycles_power - 1), U(i) = salt, password, i as 8 bytes LE. With
// `progress` the window shows how far a long derivation is and its Cancel stops it
// (0x00901701, or 0x00901702 above 31); a context that cannot be had: 0x00201701.
StatusCode DeriveKey7z(const WidePassword& password, bool progress, uint8_t* key, uint32_t cycles_power,
                       uint32_t salt_size, const uint8_t* salt);

// The key of one folder or header, derived once and kept while later folders ask for the
// same cycles and salt; wiped when it goes.
class KeyCache {
 public:
  KeyCache() = default;
  ~KeyCache();
  KeyCache(const KeyCache&) = delete;
  KeyCache& operator=(const KeyCache&) = delete;

  // The key for `coder`'s cycles and salt. An archive that asks a reader for more than
  // 2^30 rounds is refused (0x00451703) rather than left to run for days.
  StatusCode Get(const WidePassword& password, bool progress, const CoderRecord& coder, bool reading,
                 const uint8_t*& key);

 private:
  bool valid_ = false;
  uint32_t cycles_ = 0, salt_size_ = 0;
  uint8_t salt_[16] = {};
  uint8_t key_[kKeySize] = {};
};

// AES-256-CBC over one stream, from the IV block of its coder (the IV padded with zeros).
class StreamCipher {
 public:
  // False when the cipher cannot be keyed.
  bool Begin(const uint8_t* key, const CoderRecord& coder, bool encrypt);
  // Whole 16-byte blocks in place, continuing the chain.
  bool Run(uint8_t* data, size_t size);

 private:
  crypto::AesEncryptContext encrypt_;
  crypto::AesDecryptContext decrypt_;
  uint8_t chaining_[16] = {};
  bool encrypting_ = true;
};

}  // namespace tx::svz
