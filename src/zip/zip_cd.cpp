#include "zip/zip_cd.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>

#include "crypto/crc.h"
#include "crypto/hash.h"
#include "frame/bytes.h"
#include "zip/zip_certs.h"
#include "zip/zip_coders.h"
#include "zip/zip_record_fields.h"
#include "zip/zip_strong.h"

namespace tx::zip {

namespace {

using platform::SysCall;

constexpr size_t kTailSize = 65536;
constexpr uint32_t kSignatureRecord = 0x05054b50;
constexpr uint32_t kExtraDataRecord = 0x08064b50;


bool Allocate(std::unique_ptr<uint8_t[]>& buffer, size_t size) {
  buffer.reset(new (std::nothrow) uint8_t[size == 0 ? 1 : size]);
  return buffer != nullptr;
}

// A signed directory ends in the digital signature record; it is found from the end by its
// size field, which must reach exactly to the end of the block.
void TakeSignatureRecord(CentralDirectory& cd, ZipArchiveState& state) {
  if (state.hash_algorithm == kHashCrc32 || cd.length < 357) return;
  const uint8_t* b = cd.block.get();
  for (size_t p = cd.length - 6; p >= 46; --p) {
    if (frame::LoadU32(b + p) != kSignatureRecord || frame::LoadU16(b + p + 4) != cd.length - p - 6) continue;
    size_t size = frame::LoadU16(b + p + 4);
    size_t taken = size >= 2 ? std::min(size - 2, kMaxSignature) : 0;
    std::memcpy(state.cd_signature, b + p + 8, taken);
    state.cd_signature_length = static_cast<uint32_t>(taken);
    cd.length = p;
    return;
  }
}

StatusCode CheckDigest(const uint8_t* block, size_t length, const ZipArchiveState& state) {
  constexpr uint8_t kPlace = place::kCentralDirectory;
  uint8_t digest[20] = {};
  switch (state.hash_algorithm) {
    case kHashCrc32: {
      uint32_t crc = ~crypto::Crc32Update(0xFFFFFFFFu, block, length);
      uint8_t stored[4];
      frame::StoreU32(stored, crc);
      return std::memcmp(stored, state.hash, 4) == 0 ? kOk : ConditionCode(Cls::DigestWrong, kPlace, 0x01);
    }
    case kHashMd5:
      if (!crypto::Md5Digest(block, length, digest)) return ConditionCode(Cls::NoMemory, kPlace, 0x01);
      return std::memcmp(digest, state.hash, 16) == 0 ? kOk : ConditionCode(Cls::DigestWrong, kPlace, 0x02);
    case kHashSha1:
      if (!crypto::Sha1Digest(block, length, digest)) return ConditionCode(Cls::NoMemory, kPlace, 0x02);
      return std::memcmp(digest, state.hash, 20) == 0 ? kOk : ConditionCode(Cls::DigestWrong, kPlace, 0x03);
    default: return ConditionCode(Cls::CipherParameter, kPlace, 0x01);
  }
}

// Data in front of the archive (a self-extractor) moves everything by its size, while
// the offsets stay relative to the archive's own start. The central directory should end
// where the end records begin; when it ends earlier and the directory's signature is found
// that much later, and not where the offset says, the difference is the prefix.
void FindPrefix(CentralDirectory& cd, ZipArchiveState& state, const uint8_t* tail, uint64_t tail_start,
                uint64_t directory_end) {
  cd.prefix = 0;
  if (state.cd_offset > directory_end || state.cd_size > directory_end - state.cd_offset) return;
  const uint64_t prefix = directory_end - (state.cd_offset + state.cd_size);
  if (prefix == 0 || (state.cd_flags & 3) != 0) return;  // a packed directory has no signature to find
  auto signature_at = [&](uint64_t offset) {
    uint8_t bytes[4];
    if (offset >= tail_start && offset + 4 <= directory_end) {
      std::memcpy(bytes, tail + (offset - tail_start), 4);
    } else if (!cd.file.Seek(static_cast<int64_t>(offset), platform::SeekFrom::Begin) || !cd.file.Read(bytes, 4)) {
      return false;
    }
    return frame::LoadU32(bytes) == records::kCentralSignature;
  };
  if (signature_at(state.cd_offset) || !signature_at(state.cd_offset + prefix)) return;
  cd.prefix = prefix;
  state.cd_offset += prefix;
}

}  // namespace

StatusCode OpenCentralDirectory(const char16_t* archive, DirectoryLimit limit, CentralDirectory& cd,
                                ZipArchiveState& state) {
  if (!cd.file.Open(archive, platform::Access::Read, platform::Disposition::OpenExisting))
    return SystemCode(SysCall::CreateFile, 0, 0x00);
  if (!cd.file.Size(cd.file_size)) return SystemCode(SysCall::GetFileSize, 0, 0x00);
  uint64_t tail_start = cd.file_size > kTailSize ? cd.file_size - kTailSize : 0;
  if (tail_start > 0 && !cd.file.Seek(static_cast<int64_t>(tail_start), platform::SeekFrom::Begin))
    return SystemCode(SysCall::SetFilePointer, 0, 0x01);
  std::unique_ptr<uint8_t[]> tail;
  if (!Allocate(tail, kTailSize)) return ConditionCode(Cls::NoMemory, 0, 0x01);
  size_t tail_length = 0;
  if (!cd.file.ReadPartial(tail.get(), kTailSize, tail_length) || tail_length != cd.file_size - tail_start)
    return SystemCode(SysCall::ReadFile, 0, 0x01);
  size_t directory_end = 0;
  if (StatusCode code = ReadTail(tail.get(), tail_length, cd.cipher, state, &directory_end)) return code;
  if (state.entry_count == 0) return kOk;
  FindPrefix(cd, state, tail.get(), tail_start, tail_start + directory_end);

  bool beyond = state.cd_offset >= cd.file_size || state.cd_size >= cd.file_size - state.cd_offset;
  if (limit == DirectoryLimit::kSingleMember) {
    if (state.entry_count >= 2) return ConditionCode(Cls::ArchiveDamaged, 0, 0x01);
    if (beyond) return ConditionCode(Cls::ArchiveDamaged, 0, 0x02);
    if (state.cd_size > kTailSize || state.cd_original_size > kTailSize)
      return ConditionCode(Cls::ArchiveDamaged, 0, 0x03);
  } else if (beyond) {
    return ConditionCode(Cls::ArchiveDamaged, 0, 0x00);
  }
  if (!Allocate(cd.block, state.cd_size)) return ConditionCode(Cls::NoMemory, 0, 0x01);
  cd.length = state.cd_size;
  if (state.cd_offset >= tail_start) {
    std::memcpy(cd.block.get(), tail.get() + (state.cd_offset - tail_start), cd.length);
  } else {
    if (!cd.file.Seek(static_cast<int64_t>(state.cd_offset), platform::SeekFrom::Begin))
      return SystemCode(SysCall::SetFilePointer, 0, 0x02);
    if (!cd.file.Read(cd.block.get(), cd.length)) return SystemCode(SysCall::ReadFile, 0, 0x02);
  }
  TakeSignatureRecord(cd, state);
  return kOk;
}

StatusCode DecodeCentralDirectory(CentralDirectory& cd, ZipArchiveState& state, uint32_t& flags,
                                  Password& password) {
  constexpr uint8_t kPlace = place::kCentralDirectory;
  if (state.entry_count == 0 || cd.block == nullptr) return kOk;
  uint8_t* block = cd.block.get();
  if (state.cd_flags & 2) {
    // The block starts with its decryption header; its size field must stay inside the block.
    if (cd.length < 2) return ConditionCode(Cls::UnknownCipher, kPlace, 0x02);
    size_t iv_size = frame::LoadU16(block);
    if (iv_size > 16) return ConditionCode(Cls::UnknownCipher, kPlace, 0x01);
    if (cd.length < 2 + iv_size + 4 || frame::LoadU32(block + 2 + iv_size) > cd.length - (2 + iv_size + 4))
      return ConditionCode(Cls::UnknownCipher, kPlace, 0x02);
    const size_t header = 2 + iv_size + 4 + frame::LoadU32(block + 2 + iv_size);
    StrongCipher cipher;
    if (StatusCode code = ParseStrongHeader(block, header, flags, password, cd.cipher, cipher, &state))
      return code;
    uint8_t* data = block + header;
    size_t size = cd.length - header;
    const size_t cipher_block = cipher.block();
    // Whole blocks, at least one, before the padding byte is looked at.
    if (size == 0 || size % cipher_block != 0) return ConditionCode(Cls::UnknownCipher, kPlace, 0x06);
    if (!cipher.Run(data, size)) return ConditionCode(Cls::NoMemory, kPlace, 0x03);
    const size_t pad = StrongPadding(data, size, cipher_block);
    if (pad == 0) return ConditionCode(Cls::UnknownCipher, kPlace, cipher_block == 16 ? 0x03 : 0x04);
    std::memmove(block, data, size - pad);
    cd.length = size - pad;
  }
  if (state.cd_flags & 1) {
    // Central-directory records do not compress beyond a few thousand to one (Deflate
    // cannot pass about a thousand): a larger claim cannot be produced and is refused
    // before decoding. Memory follows the real output and stops at 256 MiB.
    if (uint64_t{state.cd_original_size} > uint64_t{cd.length} * 4096 + 65536)
      return ConditionCode(Cls::UnknownMethod, kPlace, 0x01);
    if (StatusCode code = DecompressDirectory(cd.cipher.method, block, cd.length, state.cd_original_size,
                                              cd.decoded, kPlace))
      return code;
    std::swap(cd.block, cd.decoded);
    cd.decoded.reset();
    block = cd.block.get();
    cd.length = state.cd_original_size;
  }
  if (state.cd_flags != 0) {
    if (StatusCode code = CheckDigest(block, cd.length, state)) return code;
    if (cd.length >= 8 && frame::LoadU32(block) == kExtraDataRecord && uint64_t{frame::LoadU32(block + 4)} + 8 < cd.length) {
      size_t record = frame::LoadU32(block + 4) + size_t{8};
      ReadArchiveExtraData(block + 8, record - 8, state);
      std::memmove(block, block + record, cd.length - record);
      cd.length -= record;
    }
  } else if (state.cd_signature_length >= 2) {
    state.hash_algorithm = frame::LoadU16(state.cd_signature);
    if (state.hash_algorithm == kHashMd5 && !crypto::Md5Digest(block, cd.length, state.hash))
      return ConditionCode(Cls::NoMemory, kPlace, 0x01);
    if (state.hash_algorithm == kHashSha1 && !crypto::Sha1Digest(block, cd.length, state.hash))
      return ConditionCode(Cls::NoMemory, kPlace, 0x02);
  }
  return kOk;
}

StatusCode MemberLayout::Load(const CentralDirectory& cd, const ZipArchiveState& state) {
  constexpr uint8_t kPlace = place::kMemberLayout;
  struct Span {
    uint64_t start, end;  // end: at least the fixed local header and the data
    bool directory;
  };
  auto sum = [](uint64_t a, uint64_t b) { return b > UINT64_MAX - a ? UINT64_MAX : a + b; };
  std::vector<Span> spans;
  Wiped<ZipEntryInfo> entry;
  Wiped<ZipArchiveState> scratch;  // the records may not change the caller's state
  try {
    spans.push_back({state.cd_offset, sum(state.cd_offset, state.cd_size), true});
    for (size_t position = 0; position < cd.length;) {
      uint64_t offset = 0;
      size_t record_length = 0;
      if (ReadCentralRecord(cd.block.get() + position, cd.length - position, offset, false, record_length,
                            *entry, *scratch) != kOk)
        break;
      position += record_length;
      offset += cd.prefix;
      spans.push_back({offset, sum(sum(offset, 30), entry->compressed_size), false});
    }
    std::sort(spans.begin(), spans.end(), [](const Span& a, const Span& b) {
      return a.start != b.start ? a.start < b.start : a.end < b.end;
    });
    starts_.clear();
    starts_.reserve(spans.size());
  } catch (const std::bad_alloc&) {
    return ConditionCode(Cls::NoMemory, kPlace, 0x01);
  }
  for (size_t i = 0; i < spans.size(); ++i) {
    if (i + 1 < spans.size() && spans[i].end > spans[i + 1].start)
      return ConditionCode(Cls::ArchiveDamaged, kPlace,
                           spans[i].directory || spans[i + 1].directory ? 0x02 : 0x01);
    starts_.push_back(spans[i].start);
  }
  return kOk;
}

StatusCode MemberLayout::CheckMember(uint64_t local_offset, uint64_t data_offset,
                                     uint64_t compressed_size) const {
  auto next = std::upper_bound(starts_.begin(), starts_.end(), local_offset);
  if (next != starts_.end() && (data_offset > *next || compressed_size > *next - data_offset))
    return ConditionCode(Cls::ArchiveDamaged, place::kMemberLayout, 0x03);
  return kOk;
}

StatusCode VerifySignature(const uint8_t* signature, size_t size, const ZipArchiveState& state) {
  const size_t digest = state.hash_algorithm == kHashMd5 ? 16 : 20;
  return VerifySignatureData(state.certificate_store, state.certificate_store_length, signature, size,
                             state.hash_algorithm, state.hash, digest);
}

}  // namespace tx::zip
