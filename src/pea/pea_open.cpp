#include "pea/pea_open.h"

#include <cstring>
#include <new>

#include "crypto/compare.h"
#include "frame/bytes.h"
#include "frame/call_frame.h"
#include "platform/system.h"
#include "ui/prompts.h"

namespace tx::pea {

namespace {
using platform::SysCall;
constexpr uint32_t kMinBlock = 1024, kMaxBlock = 10485760;
}  // namespace

bool Allocate(std::unique_ptr<uint8_t[]>& buffer, size_t size) {
  buffer.reset(new (std::nothrow) uint8_t[size]);
  return buffer != nullptr;
}

StatusCode pea_open_archive(const PeaOpenRequest& request, PeaReader& r, std::unique_ptr<uint8_t[]>& first,
                            std::unique_ptr<uint8_t[]>* second) {
  if (!r.file.Open(request.archive, platform::Access::Read, platform::Disposition::OpenExisting, true))
    return SystemCode(SysCall::CreateFile, 0, 0x00);
  if (!r.file.Size(r.size)) return SystemCode(SysCall::GetFileSize, 0, 0x00);
  if (StatusCode code = pea_read_header(r.file, r.header, r.info)) return code;

  if (r.info.volume_algorithm != kCheckNone) {
    if (!r.file.Seek(0, platform::SeekFrom::Begin)) return SystemCode(SysCall::SetFilePointer, 0, 0x01);
    StatusCode code = pea_verify_volume(r.file, r.size, request.flags & 1, first.get(), r.info, r.levels.volume);
    bool mismatch = code != kOk && (ClassOf(code) >> 16) == MismatchClass(static_cast<uint8_t>(r.info.volume_algorithm));
    if (code != kOk) {
      if (!mismatch || request.on_volume_mismatch == VolumeMismatch::Fail) return code;
      if (request.on_volume_mismatch == VolumeMismatch::Ask && ui::ErrorNotice(request.archive, code) != 1)
        return code;
      r.volume_ok = false;
    }
    if (!r.file.Seek(kHeaderSize, platform::SeekFrom::Begin)) return SystemCode(SysCall::SetFilePointer, 0, 0x02);
  }

  auto stream = static_cast<uint8_t>(r.info.stream_algorithm);
  // Ids from 48 on encrypt, but only three of them name a mode this library knows.
  if (IsEncryptionMode(stream) && stream != kModeAes128Hmac && stream != kModeAes128Eax && stream != kModeAes256Eax)
    return ConditionCode(Cls::UnknownCipher, 0, 0x00);
  if (!IsEncryptionMode(stream)) {
    if (request.demand_encryption) return ConditionCode(Cls::PasswordProblem, 0, 0x00);
    if (!pea_stream_setup(nullptr, 0, r.info, r.levels.stream)) return ConditionCode(Cls::NoMemory, 0, 0x00);
    uint8_t copy[kHeaderSize];
    std::memcpy(copy, r.header, kHeaderSize);
    pea_stream_decrypt(copy, kHeaderSize, stream, r.levels.stream);
  } else {
    uint8_t crypto_header[kCryptoHeaderSize];
    size_t got = 0;
    if (!r.file.ReadPartial(crypto_header, sizeof crypto_header, got) || got < sizeof crypto_header)
      return SystemCode(SysCall::ReadFile, place::kRead, 0x11);
    if (crypto_header[0] != 0) return MakeCode(0, 0x79, place::kRead, 0x11);
    if (crypto_header[1] != 0) return MakeCode(0, 0x79, place::kRead, 0x12);
    std::memcpy(r.info.salt, crypto_header + 2, kSaltSize);
    const uint8_t* stored = crypto_header + 14;
    frame::Password password;
    if (StatusCode code = password.Take(request.password, request.flags & 4, ConditionCode(Cls::Cancelled, 0, 0x02)))
      return code;
    PeaKeyMaterial material;
    if (StatusCode code = material.Build(password.c_str(), r.header, request.key_file)) return code;
    if (!pea_stream_setup(material.data(), material.size(), r.info, r.levels.stream))
      return ConditionCode(Cls::NoMemory, 0, 0x00);
    material.Wipe();
    uint8_t verifier[2];
    frame::StoreU16(verifier, r.info.verifier);
    if (!crypto::SecretEqual(verifier, stored, sizeof verifier)) return ConditionCode(Cls::PasswordWrong, 0, 0x00);
  }

  if (r.info.compression != 0) {
    uint8_t field[4];
    if (StatusCode code = pea_read_protected(r.file, field, 4, r.info, r.levels, false,
                                             SystemCode(SysCall::ReadFile, place::kRead, 0x41)))
      return code;
    uint32_t block = frame::LoadU32(field);
    if (block < kMinBlock || block > kMaxBlock) return ConditionCode(Cls::ArchiveDamaged, place::kRead, 0x41);
    if (block != r.info.block_size) {
      if (!Allocate(first, block)) return ConditionCode(Cls::NoMemory, 0, 0x03);
      if (second != nullptr && !Allocate(*second, block)) return ConditionCode(Cls::NoMemory, 0, 0x04);
      r.info.block_size = block;
    }
  }
  return kOk;
}

}  // namespace tx::pea
