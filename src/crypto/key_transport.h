// A session key wrapped for the holder of an RSA key pair, framed as the simple key blob
// that Windows writers of the ZIP certificate records exchange: an 8-byte blob header
// (type 1, version 2, the session key's algorithm), the wrapping key's algorithm (RSA key
// exchange), then the RSA ciphertext least significant byte first.
#pragma once

#include <openssl/types.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tx::crypto {

inline constexpr uint32_t kAlgTripleDes = 0x6603;
inline constexpr uint32_t kAlgRsaKeyExchange = 0xA400;
inline constexpr size_t kKeyBlobHeader = 12;
// A blob for RSA-4096, the largest key this library wraps for.
inline constexpr size_t kMaxKeyBlob = kKeyBlobHeader + 512;

// Wraps `key` (a 3DES key of 24 bytes) for the RSA public key `recipient`: OAEP with SHA-1
// and MGF1-SHA-1, or PKCS#1 v1.5 padding when `oaep` is false. False when the key is not
// RSA, larger than 4096 bits, or OpenSSL fails.
bool WrapSessionKey(EVP_PKEY* recipient, const uint8_t* key, size_t key_size, bool oaep,
                    std::vector<uint8_t>& blob);

// Unwraps a blob with the private key `holder` into `key` (24 bytes). Every failure (wrong
// key, wrong padding, a blob for another algorithm or another key length) gives the same
// false, so that a caller trying its keys in turn tells a sender nothing about the padding.
bool UnwrapSessionKey(EVP_PKEY* holder, const uint8_t* blob, size_t size, bool oaep, uint8_t key[24]);

}  // namespace tx::crypto
