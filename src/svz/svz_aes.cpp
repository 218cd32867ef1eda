#include "svz/svz_aes.h"

#include <cstring>
#include <memory>

#include "crypto/hash.h"
#include "platform/system.h"
#include "platform/text.h"
#include "ui/progress.h"

namespace tx::svz {

namespace {

// Units hashed per update once the derivation is long enough for batching to pay.
constexpr uint32_t kBatch = 64;
constexpr size_t kMaxUnit = 16 + 2 * frame::kMaxPassword + 8;

struct UnitBuffer {
  uint8_t bytes[kBatch * kMaxUnit];
};

void Increment(uint8_t* counter, uint64_t by) {
  for (int i = 0; i < 8 && by != 0; ++i) {
    uint64_t sum = counter[i] + (by & 0xFF);
    counter[i] = static_cast<uint8_t>(sum);
    by = (by >> 8) + (sum >> 8);
  }
}

// The percent a derivation of 2^power rounds has reached at `counter`, or -1 when this
// counter is not a moment to report.
int Percent(uint64_t counter, uint32_t power) {
  if (power < 21 || (counter & 0xFFFFF) != 0xFFF00) return -1;
  int shift = power <= 31 ? 11 : 22;
  return static_cast<int>((counter >> shift) * 100 / ((uint64_t{1} << power) >> shift));
}

}  // namespace

bool WidePassword::Set(const frame::Password& password) {
  Clear();
  char text[frame::kMaxPassword + 1];
  size_t size = password.size();
  std::memcpy(text, password.c_str(), size);
  if (size == frame::kMaxPassword) {
    // Drop a character whose bytes the cut split.
    size_t lead = size;
    while (lead > 0 && lead > size - 4 && (static_cast<uint8_t>(text[lead - 1]) & 0xC0) == 0x80) --lead;
    if (lead > 0) {
      uint8_t b = static_cast<uint8_t>(text[lead - 1]);
      size_t need = b < 0x80 ? 1 : b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : 2;
      if (size - (lead - 1) < need) size = lead - 1;
    }
  }
  text[size] = 0;
  char16_t units[frame::kMaxPassword + 1];
  bool ok = platform::Utf8ToUtf16(text, units, frame::kMaxPassword + 1);
  if (ok) {
    size_t n = platform::Utf16Length(units);
    for (size_t i = 0; i < n; ++i) {
      bytes_[2 * i] = static_cast<uint8_t>(units[i]);
      bytes_[2 * i + 1] = static_cast<uint8_t>(units[i] >> 8);
    }
    size_ = 2 * n;
  }
  platform::WipeMemory(text, sizeof text);
  platform::WipeMemory(units, sizeof units);
  return ok;
}

void WidePassword::Clear() {
  platform::WipeMemory(bytes_, sizeof bytes_);
  size_ = 0;
}

StatusCode DeriveKey7z(const WidePassword& password, bool progress, uint8_t* key, uint32_t cycles_power,
                       uint32_t salt_size, const uint8_t* salt) {
  crypto::Sha256Context sha;
  if (!crypto::Sha256Init(sha)) return ConditionCode(Cls::NoMemory, place::kKeyDerivation, 0x01);
  size_t unit = salt_size + password.size() + 8;
  uint64_t rounds = uint64_t{1} << cycles_power;
  uint32_t batch = rounds >= kBatch ? kBatch : 1;
  frame::Wiped<UnitBuffer> units;
  uint8_t* buffer = units->bytes;
  for (uint32_t k = 0; k < batch; ++k) {
    uint8_t* u = buffer + k * unit;
    // No salt may come as a null pointer; memcpy may not be given one even for 0 bytes.
    if (salt_size != 0) std::memcpy(u, salt, salt_size);
    if (password.size() != 0) std::memcpy(u + salt_size, password.data(), password.size());
    std::memset(u + salt_size + password.size(), 0, 8);
    Increment(u + unit - 8, k);
  }
  for (uint64_t counter = 0; counter < rounds; counter += batch) {
    if (progress) {
      int percent = Percent(counter, cycles_power);
      if (percent >= 0 && ui::ProgressUpdate(static_cast<uint32_t>(percent)) == ui::kProgressCancel)
        return ConditionCode(Cls::Cancelled, place::kKeyDerivation, cycles_power <= 31 ? 0x01 : 0x02);
    }
    crypto::Sha256Update(sha, buffer, unit * batch);
    for (uint32_t k = 0; k < batch; ++k) Increment(buffer + k * unit + unit - 8, batch);
  }
  crypto::Sha256Final(sha, key);
  return kOk;
}

KeyCache::~KeyCache() { platform::WipeMemory(key_, sizeof key_); }

StatusCode KeyCache::Get(const WidePassword& password, bool progress, const CoderRecord& coder, bool reading,
                         const uint8_t*& key) {
  key = key_;
  if (valid_ && cycles_ == coder.cycles_power && salt_size_ == coder.salt_size &&
      std::memcmp(salt_, coder.salt, coder.salt_size) == 0)
    return kOk;
  if (reading && coder.cycles_power > kMaxReadCyclesPower)
    return ConditionCode(Cls::CipherParameter, place::kKeyDerivation, 0x03);
  valid_ = false;
  if (StatusCode code =
          DeriveKey7z(password, progress, key_, coder.cycles_power, coder.salt_size, coder.salt))
    return code;
  valid_ = true;
  cycles_ = coder.cycles_power;
  salt_size_ = coder.salt_size;
  std::memcpy(salt_, coder.salt, sizeof salt_);
  return kOk;
}

bool StreamCipher::Begin(const uint8_t* key, const CoderRecord& coder, bool encrypt) {
  encrypting_ = encrypt;
  std::memset(chaining_, 0, sizeof chaining_);
  std::memcpy(chaining_, coder.iv, coder.iv_size);
  int result = encrypt ? crypto::AesSetEncryptKey(key, kKeySize, encrypt_)
                       : crypto::AesSetDecryptKey(key, kKeySize, decrypt_);
  return result == crypto::kAesKeyOk;
}

bool StreamCipher::Run(uint8_t* data, size_t size) {
  return encrypting_ ? crypto::AesCbcEncrypt(data, size, chaining_, encrypt_)
                     : crypto::AesCbcDecrypt(data, size, chaining_, decrypt_);
}

}  // namespace tx::svz
