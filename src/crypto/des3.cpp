#include "crypto/des3.h"

#include <openssl/evp.h>

#include <algorithm>
#include <mutex>

#include "crypto/provider.h"

namespace tx::crypto {
namespace {

struct Des3State {
  std::mutex mutex;
  EVP_CIPHER_CTX* ctx = nullptr;  // keyed CBC context, reused so that no call allocates
  Des3Direction direction = Des3Direction::Encrypt;
};

Des3State& State() {
  static Des3State state;
  return state;
}

// Caller holds the mutex. OpenSSL frees the schedules with a wiping free.
void WipeLocked(Des3State& state) {
  EVP_CIPHER_CTX_free(state.ctx);
  state.ctx = nullptr;
}

bool Cbc(Des3Direction direction, void* buffer, size_t size, uint8_t* chaining) {
  Des3State& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  if (state.ctx == nullptr || state.direction != direction) return false;
  size_t bytes = size - size % kDes3BlockSize;
  if (bytes == 0) return true;
  if (EVP_CipherInit_ex2(state.ctx, nullptr, nullptr, chaining, -1, nullptr) != 1) return false;
  auto* data = static_cast<uint8_t*>(buffer);
  constexpr size_t kMaxPiece = size_t{1} << 30;  // EVP takes int lengths
  for (size_t done = 0; done < bytes;) {
    size_t piece = std::min(bytes - done, kMaxPiece);
    int written = 0;
    if (EVP_CipherUpdate(state.ctx, data + done, &written, data + done, static_cast<int>(piece)) != 1 ||
        static_cast<size_t>(written) != piece) {
      return false;
    }
    done += piece;
  }
  return EVP_CIPHER_CTX_get_updated_iv(state.ctx, chaining, kDes3BlockSize) == 1;
}

}  // namespace

bool Des3SetKey(const uint8_t key[kDes3KeySize], Des3Direction direction) {
  // Fetched before taking our lock so that it never nests with the providers' lock.
  const EVP_CIPHER* cipher = FetchCipher(CipherKind::DesEde3Cbc);
  Des3State& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  if (cipher == nullptr || key == nullptr) {
    WipeLocked(state);
    return false;
  }
  if (state.ctx == nullptr && (state.ctx = EVP_CIPHER_CTX_new()) == nullptr) return false;
  int encrypt = direction == Des3Direction::Encrypt ? 1 : 0;
  if (EVP_CipherInit_ex2(state.ctx, cipher, key, nullptr, encrypt, nullptr) != 1 ||
      EVP_CIPHER_CTX_set_padding(state.ctx, 0) != 1) {
    WipeLocked(state);
    return false;
  }
  state.direction = direction;
  return true;
}

bool Des3CbcEncrypt(void* buffer, size_t size, uint8_t chaining[kDes3BlockSize]) {
  return Cbc(Des3Direction::Encrypt, buffer, size, chaining);
}

bool Des3CbcDecrypt(void* buffer, size_t size, uint8_t chaining[kDes3BlockSize]) {
  return Cbc(Des3Direction::Decrypt, buffer, size, chaining);
}

void Des3Wipe() {
  Des3State& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  WipeLocked(state);
}

}  // namespace tx::crypto
