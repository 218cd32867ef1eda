#include "zip/zip_aes.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>

#include "crypto/aes.h"
#include "crypto/hmac.h"
#include "crypto/xor.h"
#include "frame/bytes.h"
#include "platform/system.h"

namespace tx::zip {

namespace {

constexpr uint32_t kIterations = 1000;
constexpr size_t kBlock = crypto::kAesBlockSize;
// Keystream made per AES call, so that the hardware pipelines the blocks.
constexpr size_t kStreamBlocks = 256;
// The MAC and the cipher take turns over pieces of this size, so that the second reads
// bytes the first has just left in cache.
constexpr size_t kChunk = 4096;

// Derived key bytes, wiped on every path.
struct DerivedKeys {
  uint8_t bytes[2 * 32 + 2] = {};
  ~DerivedKeys() { platform::WipeMemory(bytes, sizeof bytes); }
};


}  // namespace

using crypto::XorInto;

class ZipAesState {
 public:
  ~ZipAesState() {
    platform::WipeMemory(stream, sizeof stream);
    platform::WipeMemory(&counter, sizeof counter);
  }

  // XORs the next keystream bytes into `data`. The counter is little-endian in the first
  // eight bytes of each block, the rest zero, and starts at 1.
  bool Apply(uint8_t* data, size_t size) {
    while (size > 0) {
      if (used == sizeof stream && !Refill()) return false;
      const size_t n = std::min(size, sizeof stream - used);
      XorInto(data, stream + used, n);
      used += n;
      data += n;
      size -= n;
    }
    return true;
  }

  // The next kStreamBlocks keystream blocks: the counter blocks are made on the stack and
  // encrypted in one call.
  bool Refill() {
    alignas(16) uint8_t blocks[kStreamBlocks * kBlock] = {};
    for (size_t i = 0; i < kStreamBlocks; ++i) {
      const uint64_t value = ++counter;
      uint8_t* block = blocks + i * kBlock;
      if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(block, &value, 8);
      } else {
        frame::StoreU64(block, value);
      }
    }
    used = 0;
    return crypto::AesEcbEncrypt(blocks, stream, kStreamBlocks, aes);  // counters are no secret
  }

  crypto::AesEncryptContext aes;
  crypto::HmacSha1Context hmac;
  uint64_t counter = 0;  // the value of the last block made
  alignas(16) uint8_t stream[kStreamBlocks * kBlock] = {};
  size_t used = sizeof stream;  // keystream bytes already spent
  bool failed = false;
};

ZipAesContext::ZipAesContext() = default;
ZipAesContext::~ZipAesContext() = default;

bool ZipAesSetup(uint32_t key_length, const uint8_t* password, size_t password_length, const uint8_t* salt,
                 uint8_t* verifier, ZipAesContext& context) {
  context.state_.reset();
  if (key_length != 16 && key_length != 24 && key_length != 32) return false;
  std::unique_ptr<ZipAesState> state(new (std::nothrow) ZipAesState);
  if (state == nullptr) return false;
  DerivedKeys keys;
  const size_t derived = 2 * key_length + 2;  // AES key, MAC key, verifier
  static const uint8_t kNoPassword = 0;
  if (!crypto::Pbkdf2Sha1(password_length > 0 ? password : &kNoPassword, password_length, salt,
                          key_length / 2, kIterations, keys.bytes, derived) ||
      crypto::AesSetEncryptKey(keys.bytes, key_length, state->aes) != crypto::kAesKeyOk ||
      !crypto::HmacSha1Init(state->hmac, keys.bytes + key_length, key_length)) {
    return false;
  }
  verifier[0] = keys.bytes[derived - 2];
  verifier[1] = keys.bytes[derived - 1];
  context.state_ = std::move(state);
  return true;
}

void ZipAesEncrypt(uint8_t* buffer, size_t length, ZipAesContext& context) {
  ZipAesState* state = context.state_.get();
  while (length > 0) {
    const size_t n = std::min(length, kChunk);
    if (state == nullptr || state->failed || !state->Apply(buffer, n)) break;
    crypto::HmacSha1Update(state->hmac, buffer, n);
    buffer += n;
    length -= n;
  }
  if (length == 0) return;
  // Never let plain text out as if it were encrypted.
  std::memset(buffer, 0, length);
  if (state != nullptr) state->failed = true;
}

void ZipAesDecrypt(uint8_t* buffer, size_t length, ZipAesContext& context) {
  ZipAesState* state = context.state_.get();
  while (length > 0) {
    const size_t n = std::min(length, kChunk);
    if (state == nullptr || state->failed) break;
    crypto::HmacSha1Update(state->hmac, buffer, n);
    if (!state->Apply(buffer, n)) break;
    buffer += n;
    length -= n;
  }
  if (length == 0) return;
  std::memset(buffer, 0, length);
  if (state != nullptr) state->failed = true;
}

void ZipAesFinish(uint8_t* code, ZipAesContext& context) {
  uint8_t mac[crypto::kHmacSha1Size] = {};
  ZipAesState* state = context.state_.get();
  if (state != nullptr) crypto::HmacSha1Final(state->hmac, mac);
  if (state == nullptr || state->failed) {
    // A context whose cipher failed handed out zeros; its code must not confirm them.
    for (auto& b : mac) b = static_cast<uint8_t>(~b);
  }
  std::memcpy(code, mac, kAesCodeSize);
  platform::WipeMemory(mac, sizeof mac);
  context.state_.reset();
}

}  // namespace tx::zip
