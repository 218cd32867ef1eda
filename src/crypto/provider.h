// The library's own OpenSSL context. The primitives fetch their algorithms from a private
// OSSL_LIB_CTX with the "default" and "legacy" providers (Whirlpool, and RIPEMD-160 on some
// builds, live only in "legacy"), so the host's global OpenSSL state is never touched.
// Fetched algorithms are cached; the accessors are safe to call from several threads.
#pragma once

#include <openssl/types.h>

namespace tx::crypto {

enum class DigestKind { Md5, Rmd160, Sha1, Sha256, Sha512, Whirlpool };
enum class CipherKind { Aes128Ecb, Aes192Ecb, Aes256Ecb, Aes128Cbc, Aes192Cbc, Aes256Cbc, DesEde3Cbc };

// Initialises OpenSSL itself. Called at library load, before the library registers its own
// exit work, so that OpenSSL's exit cleanup runs after ReleaseCryptoProviders.
void InitCryptoLibrary();

// Loads the providers if that has not been tried since the last release; true when both
// loaded. Without "legacy" the other algorithms still work.
bool CryptoProvidersAvailable();

// Frees every cached algorithm, the providers and the context, and wipes the Triple DES
// state. Call only while no context made by these primitives is alive (the library's
// unload does); a later use loads everything again.
void ReleaseCryptoProviders();

// The cached algorithm, fetched on first use; null when it cannot be fetched. The pointer
// stays valid until ReleaseCryptoProviders.
const EVP_MD* FetchDigest(DigestKind kind);
const EVP_CIPHER* FetchCipher(CipherKind kind);
EVP_MAC* FetchHmac();
EVP_KDF* FetchPbkdf2();

}  // namespace tx::crypto
