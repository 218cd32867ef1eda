#include "crypto/zipcrypto.h"

#include <openssl/crypto.h>

#include "crypto/crc.h"

namespace tx::crypto {
namespace {

void UpdateKeys(ZipCryptoKeys& keys, uint8_t plain) {
  keys.key0 = Crc32Byte(keys.key0, plain);
  keys.key1 = (keys.key1 + (keys.key0 & 0xFF)) * 134775813u + 1;
  keys.key2 = Crc32Byte(keys.key2, static_cast<uint8_t>(keys.key1 >> 24));
}

uint8_t StreamByte(const ZipCryptoKeys& keys) {
  uint32_t t = (keys.key2 & 0xFFFF) | 2;
  return static_cast<uint8_t>((t * (t ^ 1)) >> 8);
}

}  // namespace

ZipCryptoKeys::~ZipCryptoKeys() { OPENSSL_cleanse(this, sizeof(*this)); }

void ZipCryptoInitKeys(const char* password, ZipCryptoKeys& keys) {
  keys.key0 = 0x12345678;
  keys.key1 = 0x23456789;
  keys.key2 = 0x34567890;
  if (password == nullptr) return;
  for (const char* p = password; *p != '\0'; ++p) UpdateKeys(keys, static_cast<uint8_t>(*p));
}

void ZipCryptoDecrypt(void* bytes, size_t size, ZipCryptoKeys& keys) {
  auto* p = static_cast<uint8_t*>(bytes);
  for (size_t i = 0; i < size; ++i) {
    uint8_t plain = p[i] ^ StreamByte(keys);
    UpdateKeys(keys, plain);
    p[i] = plain;
  }
}

}  // namespace tx::crypto
