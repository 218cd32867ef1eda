// RSA signatures over a digest computed elsewhere (MD5 or SHA-1), PKCS#1 v1.5 with the
// digest's DigestInfo, stored least significant byte first as the ZIP signature records
// of Windows writers carry them.
#pragma once

#include <openssl/types.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tx::crypto {

enum class SignedDigest { kMd5, kSha1 };

// Signs `digest` (16 or 20 bytes) with the RSA private key `signer`; false when the key is
// not RSA or OpenSSL fails.
bool SignDigest(EVP_PKEY* signer, SignedDigest kind, const uint8_t* digest, size_t digest_size,
                std::vector<uint8_t>& signature);

// Checks a little-endian `signature` over `digest` against the RSA public key `key`.
bool VerifyDigest(EVP_PKEY* key, SignedDigest kind, const uint8_t* digest, size_t digest_size,
                  const uint8_t* signature, size_t size);

}  // namespace tx::crypto
