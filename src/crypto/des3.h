// Three-key Triple DES (EDE) in CBC mode. One key is in use at a time for the whole
// process, as a call of the library is the only user while it runs.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tx::crypto {

inline constexpr size_t kDes3KeySize = 24;
inline constexpr size_t kDes3BlockSize = 8;

enum class Des3Direction { Encrypt, Decrypt };

// Sets the process-wide key (three DES keys; parity bits are ignored) for one direction.
// False when OpenSSL cannot allocate or fetch; no key is set then.
[[nodiscard]] bool Des3SetKey(const uint8_t key[kDes3KeySize], Des3Direction direction);

// CBC in place over the whole 8-byte blocks of `buffer`; a shorter tail is left as it is.
// `chaining` (8 bytes) enters as the IV and leaves as the last ciphertext block. False
// when no key is set for this direction.
[[nodiscard]] bool Des3CbcEncrypt(void* buffer, size_t size, uint8_t chaining[kDes3BlockSize]);
[[nodiscard]] bool Des3CbcDecrypt(void* buffer, size_t size, uint8_t chaining[kDes3BlockSize]);

// Wipes the key schedules and frees the state.
void Des3Wipe();

}  // namespace tx::crypto
