// WinZip AES (AE-1, AE-2): AES in counter mode (a little-endian counter from 1), keys by
// PBKDF2-HMAC-SHA1 from the password and a salt, a two-byte verifier, and a ten-byte
// HMAC-SHA1 code over the encrypted data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace tx::zip {

inline constexpr size_t kAesCodeSize = 10;
inline constexpr size_t kAesVerifierSize = 2;

class ZipAesState;  // the keys and the running keystream and MAC

// One member's context; wiped when the code is produced and when it goes.
class ZipAesContext {
 public:
  ZipAesContext();
  ~ZipAesContext();
  ZipAesContext(const ZipAesContext&) = delete;
  ZipAesContext& operator=(const ZipAesContext&) = delete;

 private:
  friend bool ZipAesSetup(uint32_t, const uint8_t*, size_t, const uint8_t*, uint8_t*, ZipAesContext&);
  friend void ZipAesEncrypt(uint8_t*, size_t, ZipAesContext&);
  friend void ZipAesDecrypt(uint8_t*, size_t, ZipAesContext&);
  friend void ZipAesFinish(uint8_t*, ZipAesContext&);
  std::unique_ptr<ZipAesState> state_;
};

// Key set-up for a key of 16, 24 or 32 bytes and a salt of half that; writes the two
// verifier bytes. False only when the primitives fail (allocation, OpenSSL).
bool ZipAesSetup(uint32_t key_length, const uint8_t* password, size_t password_length, const uint8_t* salt,
                 uint8_t* verifier, ZipAesContext& context);
// In place; pieces of any length continue one stream. Encrypt feeds the MAC after, Decrypt before.
void ZipAesEncrypt(uint8_t* buffer, size_t length, ZipAesContext& context);
void ZipAesDecrypt(uint8_t* buffer, size_t length, ZipAesContext& context);
// The first ten bytes of the HMAC; the context is wiped.
void ZipAesFinish(uint8_t* code, ZipAesContext& context);

}  // namespace tx::zip
