#include "crypto/provider.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>
#include <openssl/crypto.h>
#include <openssl/provider.h>

#include <array>
#include <atomic>
#include <cstddef>
#include <mutex>

#include "crypto/des3.h"

namespace tx::crypto {
namespace {

constexpr std::array<const char*, 6> kDigestNames = {"MD5",    "RIPEMD160", "SHA1",
                                                     "SHA256", "SHA512",    "WHIRLPOOL"};
constexpr std::array<const char*, 7> kCipherNames = {
    "AES-128-ECB", "AES-192-ECB", "AES-256-ECB", "AES-128-CBC", "AES-192-CBC", "AES-256-CBC", "DES-EDE3-CBC"};

// Loading happens under the mutex; a fetched pointer is published through an atomic so
// that the common path (already fetched) takes no lock.
struct Providers {
  std::mutex mutex;
  bool tried = false;
  bool complete = false;
  OSSL_LIB_CTX* context = nullptr;
  OSSL_PROVIDER* default_provider = nullptr;
  OSSL_PROVIDER* legacy_provider = nullptr;
  std::array<std::atomic<EVP_MD*>, kDigestNames.size()> digests{};
  std::array<std::atomic<EVP_CIPHER*>, kCipherNames.size()> ciphers{};
  std::atomic<EVP_MAC*> hmac{nullptr};
  std::atomic<EVP_KDF*> pbkdf2{nullptr};
};

Providers& State() {
  // Its destructor frees nothing: the OpenSSL objects go only through ReleaseCryptoProviders.
  static Providers providers;
  return providers;
}

// Caller holds the mutex. Failures stay out of the host's OpenSSL error queue.
OSSL_LIB_CTX* LoadLocked(Providers& p) {
  if (!p.tried) {
    p.tried = true;
    ERR_set_mark();
    p.context = OSSL_LIB_CTX_new();
    if (p.context != nullptr) {
      p.default_provider = OSSL_PROVIDER_load(p.context, "default");
      p.legacy_provider = OSSL_PROVIDER_load(p.context, "legacy");
    }
    ERR_pop_to_mark();
    p.complete = p.default_provider != nullptr && p.legacy_provider != nullptr;
  }
  return p.context;
}

// Fetches through `fetch` once and publishes the result in `slot`.
template <typename T, typename Fetch>
T* Cached(std::atomic<T*>& slot, Fetch fetch) {
  T* found = slot.load(std::memory_order_acquire);
  if (found != nullptr) return found;
  Providers& p = State();
  std::lock_guard<std::mutex> lock(p.mutex);
  found = slot.load(std::memory_order_relaxed);
  if (found != nullptr) return found;
  OSSL_LIB_CTX* context = LoadLocked(p);
  if (context == nullptr) return nullptr;
  ERR_set_mark();
  found = fetch(context);
  ERR_pop_to_mark();
  slot.store(found, std::memory_order_release);
  return found;
}

}  // namespace

void InitCryptoLibrary() { OPENSSL_init_crypto(0, nullptr); }

bool CryptoProvidersAvailable() {
  Providers& p = State();
  std::lock_guard<std::mutex> lock(p.mutex);
  LoadLocked(p);
  return p.complete;
}

void ReleaseCryptoProviders() {
  // The Triple DES state holds a cipher of this context. Wiped before taking our lock so
  // that the two locks never nest.
  Des3Wipe();
  Providers& p = State();
  std::lock_guard<std::mutex> lock(p.mutex);
  for (auto& slot : p.digests) EVP_MD_free(slot.exchange(nullptr));
  for (auto& slot : p.ciphers) EVP_CIPHER_free(slot.exchange(nullptr));
  EVP_MAC_free(p.hmac.exchange(nullptr));
  EVP_KDF_free(p.pbkdf2.exchange(nullptr));
  if (p.legacy_provider != nullptr) OSSL_PROVIDER_unload(p.legacy_provider);
  if (p.default_provider != nullptr) OSSL_PROVIDER_unload(p.default_provider);
  OSSL_LIB_CTX_free(p.context);
  p.legacy_provider = nullptr;
  p.default_provider = nullptr;
  p.context = nullptr;
  p.tried = false;
  p.complete = false;
}

const EVP_MD* FetchDigest(DigestKind kind) {
  auto index = static_cast<size_t>(kind);
  return Cached(State().digests[index], [index](OSSL_LIB_CTX* context) {
    return EVP_MD_fetch(context, kDigestNames[index], nullptr);
  });
}

const EVP_CIPHER* FetchCipher(CipherKind kind) {
  auto index = static_cast<size_t>(kind);
  return Cached(State().ciphers[index], [index](OSSL_LIB_CTX* context) {
    return EVP_CIPHER_fetch(context, kCipherNames[index], nullptr);
  });
}

EVP_MAC* FetchHmac() {
  return Cached(State().hmac, [](OSSL_LIB_CTX* context) { return EVP_MAC_fetch(context, "HMAC", nullptr); });
}

EVP_KDF* FetchPbkdf2() {
  return Cached(State().pbkdf2,
                [](OSSL_LIB_CTX* context) { return EVP_KDF_fetch(context, "PBKDF2", nullptr); });
}

}  // namespace tx::crypto
