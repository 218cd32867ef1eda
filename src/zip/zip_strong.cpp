#include "zip/zip_strong.h"

#include <algorithm>
#include <cstring>

#include "crypto/crc.h"
#include "crypto/des3.h"
#include "crypto/hash.h"
#include "crypto/provider.h"
#include "frame/bytes.h"
#include "frame/call_frame.h"
#include "frame/random.h"
#include "platform/system.h"
#include "zip/zip_certs.h"
#include "zip/zip_record_fields.h"

namespace tx::zip {

namespace {

using frame::LoadU16;
using frame::LoadU32;
using platform::SysCall;
constexpr uint8_t kPlace = place::kStrongHeader;
constexpr uint8_t kUnpackerPlace = 0x19;  // the member unpacker reads the header

constexpr uint16_t kFlagPassword = 0x0001;
constexpr uint16_t kFlagCertificates = 0x0002;
constexpr uint16_t kFlagMaster3Des = 0x4000;
constexpr uint16_t kHashSha1Id = 0x8004;

StatusCode Fault(uint8_t occurrence) { return ConditionCode(Cls::UnknownCipher, kPlace, occurrence); }

// The cipher that protects the random data: 3DES with a 3DES member or when the flags say
// so, else AES with the member's key.
struct MasterCipher {
  uint32_t kind, key_length;
};
MasterCipher MasterOf(uint32_t kind, uint32_t key_length, uint32_t flags) {
  if (kind == kStrong3Des || (flags & kFlagMaster3Des)) return {kStrong3Des, 21};
  return {kStrongAes, key_length};
}

bool MasterKey(const frame::Password& password, uint8_t key[32]) {
  frame::SecretBytes<crypto::kSha1Size> hash;
  static const uint8_t kNothing = 0;
  return crypto::Sha1Digest(password.empty() ? &kNothing : password.data(), password.size(), hash.bytes) &&
         StrongDeriveKey(hash.bytes, key);
}

// Runs the random data (with its padding) through the master cipher from `iv`.
bool RunMaster(const MasterCipher& master, const uint8_t* key, const uint8_t* iv, uint8_t* data, size_t size,
               bool encrypt) {
  StrongCipher cipher;
  return cipher.Init(master.kind, master.key_length, key, iv, encrypt) && cipher.Run(data, size);
}

// The file key: the derivation over the IV as stored and the member's random data.
bool FileKey(const uint8_t* iv, size_t iv_size, const uint8_t* random, uint8_t key[32]) {
  frame::SecretBytes<kStrongMaxIv + kStrongRandomSize> input;
  std::memcpy(input.bytes, iv, iv_size);
  std::memcpy(input.bytes + iv_size, random, kStrongRandomSize);
  frame::SecretBytes<crypto::kSha1Size> hash;
  return crypto::Sha1Digest(input.bytes, iv_size + kStrongRandomSize, hash.bytes) &&
         StrongDeriveKey(hash.bytes, key);
}

}  // namespace

size_t StrongBlock(uint32_t kind) {
  return kind == kStrong3Des ? crypto::kDes3BlockSize : kind == kStrongAes ? 16 : 0;
}

bool StrongCipher::Init(uint32_t kind, uint32_t key_length, const uint8_t* key, const uint8_t* iv,
                        bool encrypt) {
  crypto::CipherKind which;
  if (kind == kStrong3Des) {
    which = crypto::CipherKind::DesEde3Cbc;
  } else if (kind == kStrongAes && key_length == 16) {
    which = crypto::CipherKind::Aes128Cbc;
  } else if (kind == kStrongAes && key_length == 24) {
    which = crypto::CipherKind::Aes192Cbc;
  } else if (kind == kStrongAes && key_length == 32) {
    which = crypto::CipherKind::Aes256Cbc;
  } else {
    return false;
  }
  return cbc_.Init(which, key, iv, encrypt) && cbc_.block() == StrongBlock(kind);
}

bool StrongDeriveKey(const uint8_t* hash, uint8_t key[32]) {
  frame::SecretBytes<64> inner, outer;
  std::memset(inner.bytes, 0x36, 64);
  std::memset(outer.bytes, 0x5C, 64);
  for (size_t i = 0; i < crypto::kSha1Size; ++i) {
    inner.bytes[i] ^= hash[i];
    outer.bytes[i] ^= hash[i];
  }
  frame::SecretBytes<2 * crypto::kSha1Size> derived;
  if (!crypto::Sha1Digest(inner.bytes, 64, derived.bytes) ||
      !crypto::Sha1Digest(outer.bytes, 64, derived.bytes + crypto::kSha1Size))
    return false;
  std::memcpy(key, derived.bytes, 32);
  return true;
}

size_t StrongPadding(const uint8_t* data, size_t size, size_t block) {
  if (block == 0 || size < block) return 0;
  const uint8_t pad = data[size - 1];
  if (pad == 0 || pad > block) return 0;
  uint8_t differ = 0;
  for (size_t i = size - pad; i < size; ++i) differ |= static_cast<uint8_t>(data[i] ^ pad);
  return differ == 0 ? pad : 0;
}

bool StrongPasswordKey(const frame::Password& password, uint8_t key[32]) { return MasterKey(password, key); }

StatusCode SealStrongRandom(const uint8_t* master_key, const ZipEntryInfo& entry, uint32_t flags,
                            ZipArchiveState& state) {
  constexpr StatusCode kFailed = ConditionCode(Cls::NoMemory, kPlace, 0x01);
  const MasterCipher master = MasterOf(entry.encryption, entry.key_length, flags);
  const size_t master_block = StrongBlock(master.kind);
  const size_t erd_size = kStrongRandomSize + master_block;
  if (StatusCode code = frame::RandomBytes(state.strong_random, kStrongRandomSize)) return code;
  if (state.strong_random[0] == 0) state.strong_random[0] = 0xFF;
  std::memcpy(state.strong_erd, state.strong_random, kStrongRandomSize);
  std::memset(state.strong_erd + kStrongRandomSize, static_cast<int>(master_block), master_block);
  const uint8_t zero_iv[kStrongMaxIv] = {};
  if (!RunMaster(master, master_key, zero_iv, state.strong_erd, erd_size, true)) return kFailed;
  state.strong_erd_length = static_cast<uint32_t>(erd_size);
  return kOk;
}

StatusCode BuildStrongHeader(uint8_t* out, size_t& length, const frame::Password& password,
                             const ZipEntryInfo& entry, ZipArchiveState& state, StrongCipher& cipher) {
  constexpr StatusCode kFailed = ConditionCode(Cls::NoMemory, kPlace, 0x01);
  const uint32_t kind = entry.encryption;
  const size_t block = StrongBlock(kind);
  if (block == 0) return Fault(0x02);
  // A rebuilt directory keeps its recipients and the flags that go with them; otherwise
  // password mode only (recipients are set up, with their lists, before the first header).
  const size_t transport = state.strong_transport_length;
  const uint16_t flags = static_cast<uint16_t>(
      entry.strong_flags & (transport > 0 ? records::kStrongFlagMask : kFlagPassword | kFlagCertificates));
  const MasterCipher master = MasterOf(kind, entry.key_length, flags);
  const size_t master_block = StrongBlock(master.kind);
  const size_t erd_size = kStrongRandomSize + master_block;

  if (state.strong_erd_length != 0 && state.strong_erd_length != erd_size) return Fault(0x04);
  if (state.strong_erd_length == 0) {
    frame::SecretBytes<32> master_key;
    if (!MasterKey(password, master_key.bytes)) return kFailed;
    if (StatusCode code = SealStrongRandom(master_key.bytes, entry, flags, state)) return code;
  }

  const size_t iv_size = std::clamp<uint32_t>(entry.iv_length, 1, kStrongMaxIv);
  const size_t v_size = std::clamp<uint32_t>(entry.validation_length & 0xF0, 16, 128);
  uint8_t iv[kStrongMaxIv] = {};
  if (StatusCode code = frame::RandomBytes(iv, iv_size)) return code;

  // What decrypting the shared random data under this IV gives.
  frame::SecretBytes<kStrongRandomSize> random;
  std::memcpy(random.bytes, state.strong_random, kStrongRandomSize);
  for (size_t i = 0; i < master_block; ++i) random.bytes[i] ^= iv[i];
  frame::SecretBytes<32> file_key;
  if (!FileKey(iv, iv_size, random.bytes, file_key.bytes)) return kFailed;

  uint8_t* p = out;
  frame::StoreU16(p, static_cast<uint16_t>(iv_size)), p += 2;
  std::memcpy(p, iv, iv_size), p += iv_size;
  frame::StoreU32(p, static_cast<uint32_t>(10 + erd_size + (transport > 0 ? transport : 4) + 2 + v_size));
  p += 4;
  frame::StoreU16(p, 3), p += 2;
  uint32_t unused_kind = 0, key_length = 0;
  uint16_t alg = kind == kStrong3Des      ? records::kAlg3Des
                 : entry.key_length == 16 ? records::kAlgAes128
                 : entry.key_length == 24 ? records::kAlgAes192
                                          : records::kAlgAes256;
  if (!records::CipherOfAlgId(alg, unused_kind, key_length) || key_length != entry.key_length)
    return Fault(0x03);
  frame::StoreU16(p, alg), p += 2;
  frame::StoreU16(p, static_cast<uint16_t>(entry.key_length * 8)), p += 2;
  frame::StoreU16(p, flags), p += 2;
  frame::StoreU16(p, static_cast<uint16_t>(erd_size)), p += 2;
  std::memcpy(p, state.strong_erd, erd_size), p += erd_size;
  if (transport > 0) {
    std::memcpy(p, state.strong_transport, transport), p += transport;
  } else {
    frame::StoreU32(p, 0), p += 4;
  }
  frame::StoreU16(p, static_cast<uint16_t>(v_size)), p += 2;
  uint8_t* validation = p;
  if (StatusCode code = frame::RandomBytes(validation, v_size - 4)) return code;
  frame::StoreU32(validation + v_size - 4, ~crypto::Crc32Update(0xFFFFFFFFu, validation, v_size - 4));
  p += v_size;
  if (!cipher.Init(kind, entry.key_length, file_key.bytes, iv, true) || !cipher.Run(validation, v_size))
    return kFailed;
  length = static_cast<size_t>(p - out);
  return kOk;
}

StatusCode ParseStrongHeader(const uint8_t* header, size_t length, uint32_t& flags, frame::Password& password,
                             const ZipEntryInfo& entry, StrongCipher& cipher, ZipArchiveState* keep) {
  constexpr StatusCode kFailed = ConditionCode(Cls::NoMemory, kPlace, 0x01);
  if (length < 2) return Fault(0x06);
  const size_t iv_size = LoadU16(header);
  if (iv_size < 1 || iv_size > kStrongMaxIv) return Fault(0x01);
  if (length < 2 + iv_size + 4 || LoadU32(header + 2 + iv_size) != length - (2 + iv_size + 4))
    return Fault(0x06);
  uint8_t iv[kStrongMaxIv] = {};
  std::memcpy(iv, header + 2, iv_size);
  const uint8_t* rest = header + 2 + iv_size + 4;
  const size_t size = length - (2 + iv_size + 4);
  size_t at = 0;
  // Every field is read only once its bytes are known to lie inside the header.
  auto has = [&](size_t bytes) { return bytes <= size && at <= size - bytes; };

  if (!has(10)) return Fault(0x06);
  uint32_t kind = 0, key_length = 0;
  if (!records::CipherOfAlgId(LoadU16(rest + 2), kind, key_length)) return Fault(0x02);
  // The header must name the cipher the directory names for the member.
  if (kind != entry.encryption || key_length != entry.key_length) return Fault(0x07);
  if (LoadU16(rest + 4) != key_length * 8) return Fault(0x03);
  const uint16_t header_flags = static_cast<uint16_t>(LoadU16(rest + 6) & records::kStrongFlagMask);
  const MasterCipher master = MasterOf(kind, key_length, header_flags);
  const size_t block = StrongBlock(kind), master_block = StrongBlock(master.kind);
  const size_t erd_size = LoadU16(rest + 8);
  if (erd_size != kStrongRandomSize + master_block) return Fault(0x04);
  at = 10;
  if (!has(erd_size)) return Fault(0x06);
  const uint8_t* erd = rest + at;
  at += erd_size;
  if (!has(4)) return Fault(0x06);
  const size_t certificate_part = at;
  const uint32_t recipients = LoadU32(rest + at);
  at += 4;
  if (recipients != 0) {
    if (!has(4)) return Fault(0x06);
    if (LoadU16(rest + at) != kHashSha1Id || LoadU16(rest + at + 2) != crypto::kSha1Size)
      return ConditionCode(static_cast<Cls>(0x50), kPlace, 0x01);
    at += 4;
    // Each entry takes at least its size field, so a count beyond the header ends the walk.
    for (uint32_t i = 0; i < recipients; ++i) {
      if (!has(2)) return Fault(0x06);
      const size_t entry_size = LoadU16(rest + at);
      at += 2;
      if (!has(entry_size)) return Fault(0x06);
      at += entry_size;
    }
  }
  // A recipient's own key opens the archive first; the password is the other way in.
  frame::SecretBytes<32> master_key;
  bool recovered = false;
  if ((header_flags & kFlagCertificates) && recipients != 0 && recipients <= kMaxRecipients)
    if (StatusCode code = RecoverMasterKey(rest + certificate_part, at - certificate_part, header_flags,
                                           master_key.bytes, recovered))
      return code;
  if (!recovered && !(header_flags & kFlagPassword))
    return ConditionCode(static_cast<Cls>(0x51), kPlace, 0x01);
  if (!recovered && password.empty() && (flags & frame::CallFrame::kFlagAskPassword)) {
    flags &= ~frame::CallFrame::kFlagAskPassword;
    if (StatusCode code = password.Ask(ConditionCode(Cls::Cancelled, kPlace, 0x01))) return code;
  }
  if (!has(2)) return Fault(0x06);
  const size_t certificate_length = recipients != 0 ? at - certificate_part : 0;
  if (keep != nullptr && certificate_length > sizeof keep->strong_transport) return Fault(0x06);
  const size_t v_size = LoadU16(rest + at);
  at += 2;
  if (v_size < 8 || v_size > 128 || v_size % block != 0) return Fault(0x05);
  if (size - at != v_size) return Fault(0x06);

  frame::SecretBytes<kStrongRandomSize + 16> random;
  if (!recovered && !MasterKey(password, master_key.bytes)) return kFailed;
  std::memcpy(random.bytes, erd, erd_size);
  if (!RunMaster(master, master_key.bytes, iv, random.bytes, erd_size, false)) return kFailed;
  uint8_t differ = 0;
  for (size_t i = kStrongRandomSize; i < erd_size; ++i)
    differ |= static_cast<uint8_t>(random.bytes[i] ^ master_block);
  if (differ != 0) return ConditionCode(Cls::PasswordWrong, kPlace, 0x01);

  frame::SecretBytes<32> file_key;
  frame::SecretBytes<128> validation;
  if (!FileKey(iv, iv_size, random.bytes, file_key.bytes)) return kFailed;
  std::memcpy(validation.bytes, rest + at, v_size);
  if (!cipher.Init(kind, key_length, file_key.bytes, iv, false) || !cipher.Run(validation.bytes, v_size))
    return kFailed;
  if (~crypto::Crc32Update(0xFFFFFFFFu, validation.bytes, v_size - 4) !=
      LoadU32(validation.bytes + v_size - 4))
    return ConditionCode(Cls::PasswordWrong, kPlace, 0x02);
  if (keep != nullptr) {
    // The random data as encrypted from a zero IV, so that a new IV can be put in front.
    for (size_t i = 0; i < master_block; ++i) random.bytes[i] ^= iv[i];
    std::memcpy(keep->strong_random, random.bytes, kStrongRandomSize);
    std::memcpy(keep->strong_erd, erd, erd_size);
    keep->strong_erd_length = static_cast<uint32_t>(erd_size);
    std::memcpy(keep->strong_transport, rest + certificate_part, certificate_length);
    keep->strong_transport_length = static_cast<uint32_t>(certificate_length);
    keep->strong_iv_length = static_cast<uint32_t>(iv_size);
    keep->strong_validation_length = static_cast<uint32_t>(v_size);
  }
  return kOk;
}

StatusCode ReadStrongHeader(platform::File& archive, uint64_t compressed_size, uint32_t& flags,
                            frame::Password& password, const ZipEntryInfo& entry, StrongCipher& cipher,
                            uint64_t& data_length) {
  const size_t block = StrongBlock(entry.encryption);
  if (block == 0) return Fault(0x02);
  frame::SecretBytes<kStrongMaxHeader> header;
  if (compressed_size < 2) return Fault(0x08);
  if (!archive.Read(header.bytes, 2)) return SystemCode(SysCall::ReadFile, kUnpackerPlace, 0x01);
  const size_t iv_size = LoadU16(header.bytes);
  if (iv_size < 1 || iv_size > kStrongMaxIv) return Fault(0x01);
  if (compressed_size < 2 + iv_size + 4) return Fault(0x08);
  if (!archive.Read(header.bytes + 2, iv_size + 4))
    return SystemCode(SysCall::ReadFile, kUnpackerPlace, 0x02);
  const size_t size = LoadU32(header.bytes + 2 + iv_size);
  if (size > kStrongMaxHeaderRest) return Fault(0x06);
  const size_t total = 2 + iv_size + 4 + size;
  if (compressed_size < total) return Fault(0x08);
  if (!archive.Read(header.bytes + 2 + iv_size + 4, size))
    return SystemCode(SysCall::ReadFile, kUnpackerPlace, 0x03);
  if (StatusCode code = ParseStrongHeader(header.bytes, total, flags, password, entry, cipher)) return code;
  data_length = compressed_size - total;
  // At least the padding block, and whole blocks only.
  if (data_length < block || data_length % block != 0)
    return ConditionCode(Cls::CipherData, kUnpackerPlace, entry.encryption == kStrongAes ? 0x01 : 0x02);
  return kOk;
}

}  // namespace tx::zip
