// The traditional PKWARE ZIP stream cipher, decryption only.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tx::crypto {

// The cipher state; it is derived from the password, so it is wiped on destruction.
struct ZipCryptoKeys {
  uint32_t key0 = 0x12345678;
  uint32_t key1 = 0x23456789;
  uint32_t key2 = 0x34567890;

  ~ZipCryptoKeys();
};

// Sets the initial keys and runs every password byte through them; a null or empty
// password leaves the initial keys.
void ZipCryptoInitKeys(const char* password, ZipCryptoKeys& keys);

// Decrypts in place, carrying the keys on to the next call.
void ZipCryptoDecrypt(void* bytes, size_t size, ZipCryptoKeys& keys);

}  // namespace tx::crypto
