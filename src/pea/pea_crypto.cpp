#include "pea/pea_crypto.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "crypto/aes.h"
#include "crypto/eax.h"
#include "crypto/hmac.h"
#include "frame/bytes.h"
#include "frame/secrets.h"
#include "platform/file.h"
#include "platform/system.h"

namespace tx::pea {
namespace {

constexpr size_t kKeyFileBytes = 2048;
constexpr uint8_t kPlaceKeyFile = 0x11;
constexpr uint32_t kIterations = 1000;
constexpr size_t kTagSize = 16;
// Mode 48 is fed to the cipher and the MAC in pieces of this size, so the MAC reads bytes
// the cipher has just left in cache.
constexpr size_t kChunk = 4096;

bool IsCipherMode(uint32_t id) {
  return id == kModeAes128Hmac || id == kModeAes128Eax || id == kModeAes256Eax;
}

// Derived key bytes, wiped on every path.
struct DerivedKeys {
  uint8_t bytes[66] = {};
  ~DerivedKeys() { platform::WipeMemory(bytes, sizeof bytes); }
};

}  // namespace

StatusCode PeaKeyMaterial::Build(const char* password, const uint8_t header[kKeyHeaderSize],
                                 const char16_t* key_file) {
  Wipe();
  size_t password_size = password == nullptr ? 0 : strnlen(password, frame::kMaxPassword);
  if (password_size > 0) std::memcpy(bytes_, password, password_size);
  std::memcpy(bytes_ + password_size, header, kKeyHeaderSize);
  size_ = password_size + kKeyHeaderSize;
  if (key_file == nullptr || key_file[0] == 0) return kOk;
  platform::File file;
  if (!file.Open(key_file, platform::Access::Read, platform::Disposition::OpenExisting)) {
    Wipe();
    return SystemCode(platform::SysCall::CreateFile, kPlaceKeyFile, 0x01);
  }
  size_t got = 0;
  if (!file.ReadPartial(bytes_ + size_, kKeyFileBytes, got)) {
    Wipe();
    return SystemCode(platform::SysCall::ReadFile, kPlaceKeyFile, 0x01);
  }
  size_ += got;
  return kOk;
}

void PeaKeyMaterial::Wipe() {
  platform::WipeMemory(bytes_, sizeof bytes_);
  size_ = 0;
}

// Mode 48 uses the counter stream, the AES key and the HMAC; modes 49 and 65 the EAX state.
// Every member wipes itself when the state goes.
class PeaCipherState {
 public:
  uint32_t mode = 0;
  crypto::AesEncryptContext aes;
  crypto::AesCtrStream ctr;
  crypto::HmacSha1Context hmac;
  crypto::EaxContext eax;
};

PeaStreamState::PeaStreamState() = default;
PeaStreamState::~PeaStreamState() = default;

bool PeaStreamState::failed() const { return failed_ || check_.failed; }

namespace {

bool SetUpCipher(const uint8_t* key_material, size_t length, PeaArchiveInfo& info, PeaCipherState& cipher) {
  const uint32_t mode = info.stream_algorithm;
  const bool wide = mode == kModeAes256Eax;
  const size_t key_size = wide ? 32 : 16;
  const size_t derived_size = 2 * key_size + 2;  // cipher key, second key, verifier
  DerivedKeys keys;
  bool ok = wide ? crypto::Pbkdf2Whirlpool(key_material, length, info.salt, kSaltSize, kIterations,
                                           keys.bytes, derived_size)
                 : crypto::Pbkdf2Sha1(key_material, length, info.salt, kSaltSize, kIterations, keys.bytes,
                                      derived_size);
  if (!ok) return false;
  const uint8_t* second = keys.bytes + key_size;
  cipher.mode = mode;
  if (mode == kModeAes128Hmac) {
    const uint8_t zero_counter[crypto::kAesBlockSize] = {};
    cipher.ctr.Start(zero_counter);
    ok = crypto::AesSetEncryptKey(keys.bytes, key_size, cipher.aes) == crypto::kAesKeyOk &&
         crypto::HmacSha1Init(cipher.hmac, second, key_size);
  } else {
    ok = crypto::EaxInit(cipher.eax, keys.bytes, key_size, second, key_size);
  }
  if (ok)
    info.verifier = frame::LoadU16(keys.bytes + derived_size - 2);
  return ok;
}

// Mode 48 pieces: CTR then MAC when writing, MAC then CTR when reading.
bool HmacModeFeed(uint8_t* data, size_t length, bool encrypt, PeaCipherState& cipher) {
  while (length > 0) {
    size_t n = std::min(length, kChunk);
    if (!encrypt) crypto::HmacSha1Update(cipher.hmac, data, n);
    if (!cipher.ctr.Apply(data, n, cipher.aes)) {
      std::memset(data, 0, length);
      return false;
    }
    if (encrypt) crypto::HmacSha1Update(cipher.hmac, data, n);
    data += n;
    length -= n;
  }
  return true;
}

void Feed(uint8_t* data, size_t length, uint8_t algorithm, bool encrypt, PeaCheckState& check,
          PeaCipherState* cipher, bool& failed) {
  if (algorithm < kModeAes128Hmac) {
    pea_check_update(data, length, algorithm, check);
    return;
  }
  if (!IsCipherMode(algorithm)) return;
  bool ok = !failed && cipher != nullptr && cipher->mode == algorithm;
  if (ok && algorithm == kModeAes128Hmac) {
    ok = HmacModeFeed(data, length, encrypt, *cipher);
  } else if (ok) {
    ok = encrypt ? crypto::EaxEncrypt(cipher->eax, data, length)
                 : crypto::EaxDecrypt(cipher->eax, data, length);
  } else if (length > 0) {
    std::memset(data, 0, length);  // never pass bytes on in the clear
  }
  if (!ok) failed = true;
}

}  // namespace

bool pea_stream_setup(const uint8_t* key_material, size_t length, PeaArchiveInfo& info,
                      PeaStreamState& state) {
  state.cipher_.reset();
  state.check_ = PeaCheckState{};
  state.failed_ = false;
  const uint32_t id = info.stream_algorithm;
  if (id < kModeAes128Hmac) {
    pea_check_init(static_cast<uint8_t>(id), state.check_);
    return !state.check_.failed;
  }
  if (!IsCipherMode(id)) return true;  // other ids carry no stream check
  state.cipher_.reset(new (std::nothrow) PeaCipherState);
  if (state.cipher_ == nullptr || !SetUpCipher(key_material, length, info, *state.cipher_)) {
    state.cipher_.reset();
    state.failed_ = true;
    return false;
  }
  return true;
}

void pea_stream_encrypt(uint8_t* data, size_t length, uint8_t algorithm, PeaStreamState& state) {
  Feed(data, length, algorithm, true, state.check_, state.cipher_.get(), state.failed_);
}

void pea_stream_decrypt(uint8_t* data, size_t length, uint8_t algorithm, PeaStreamState& state) {
  Feed(data, length, algorithm, false, state.check_, state.cipher_.get(), state.failed_);
}

size_t pea_stream_final(uint8_t algorithm, uint8_t* out, PeaStreamState& state) {
  if (algorithm < kModeAes128Hmac) return pea_check_final(algorithm, out, state.check_);
  if (!IsCipherMode(algorithm)) return 0;
  PeaCipherState* cipher = state.cipher_.get();
  bool ok = !state.failed_ && cipher != nullptr && cipher->mode == algorithm;
  if (ok && algorithm == kModeAes128Hmac) {
    uint8_t mac[crypto::kHmacSha1Size];
    crypto::HmacSha1Final(cipher->hmac, mac);
    std::memcpy(out, mac, kTagSize);
    platform::WipeMemory(mac, sizeof mac);
  } else if (ok) {
    ok = crypto::EaxFinal(cipher->eax, out);
  }
  if (!ok) {
    std::memset(out, 0, kTagSize);
    state.failed_ = true;
  }
  state.cipher_.reset();  // the key state goes, and wipes itself
  return kTagSize;
}

}  // namespace tx::pea
