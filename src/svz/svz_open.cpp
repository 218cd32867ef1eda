#include "svz/svz_open.h"

#include <cstring>
#include <memory>
#include <new>

#include "codec/block.h"
#include "crypto/crc.h"
#include "frame/bytes.h"

namespace tx::svz {

namespace {

using platform::SysCall;

constexpr size_t kScanHalf = 32768;
constexpr uint64_t kScanLimit = 0x40000;
constexpr uint64_t kSingleHeaderLimit = 65536;

StatusCode HeaderCode(uint8_t occurrence) { return ConditionCode(cls::kHeader, 0, occurrence); }

bool Add(uint64_t& sum, uint64_t value) {
  if (value > UINT64_MAX - sum) return false;
  sum += value;
  return true;
}

// The start header within the first 256 KiB: a 64 KiB window whose first half keeps the
// previous 32 KiB, so a header cut by a read boundary is found in the next round.
StatusCode FindStart(platform::File& file, uint64_t& start, SignatureInfo& info) {
  std::unique_ptr<uint8_t[]> window(new (std::nothrow) uint8_t[2 * kScanHalf]);
  if (!window) return ConditionCode(Cls::NoMemory, 0, 0x04);
  std::memset(window.get(), 0, kScanHalf);
  uint64_t read = 0;
  for (;;) {
    size_t got = 0;
    if (!file.ReadPartial(window.get() + kScanHalf, kScanHalf, got))
      return SystemCode(SysCall::ReadFile, 0, 0x01);
    StatusCode code = FindSignatureHeader(window.get(), kScanHalf + got, info);
    if (code == kOk) {
      start = read + info.offset - kScanHalf;
      return kOk;
    }
    read += got;
    if (got < kScanHalf || read >= kScanLimit) return code;
    std::memcpy(window.get(), window.get() + kScanHalf, kScanHalf);
  }
}

StatusCode ReadAt(platform::File& file, uint64_t offset, uint8_t* out, size_t size, StatusCode seek_failure,
                  StatusCode read_failure) {
  if (offset > static_cast<uint64_t>(INT64_MAX) ||
      !file.Seek(static_cast<int64_t>(offset), platform::SeekFrom::Begin))
    return seek_failure;
  return file.Read(out, size) ? kOk : read_failure;
}

// A codec outcome of the header's one-call decoding as a status of this reader.
StatusCode BlockCode(codec::Outcome outcome, uint32_t method) {
  uint8_t m = static_cast<uint8_t>(method << 4 | 1);
  switch (outcome) {
    case codec::Outcome::kOk: return kOk;
    case codec::Outcome::kSetupFailed: return ConditionCode(Cls::CoderInit, 0x12, m);
    case codec::Outcome::kNoMemory: return ConditionCode(Cls::NoMemory, 0x12, m);
    case codec::Outcome::kTooLarge: return ConditionCode(Cls::ArchiveDamaged, 0x12, m);
    case codec::Outcome::kEndFailed: return ConditionCode(Cls::CoderEnd, 0x12, m);
    default: return ConditionCode(Cls::CoderFailed, 0x12, m);
  }
}

// The packed main header behind an encoded header: read, decrypted, decompressed with
// exactly its compressed length, checked.
StatusCode UnpackHeader(OpenedArchive& a, const uint8_t* encoded, size_t encoded_size,
                        const ReadOptions& options, ReaderSecrets& secrets, std::unique_ptr<uint8_t[]>& plain,
                        size_t& plain_size) {
  uint64_t position = 0;
  EncodedSizes sizes;
  CoderRecord& coder = a.header_coder;
  if (StatusCode code = ParseEncodedHeader(encoded, encoded_size, position, sizes, coder)) return code;
  a.header_packed = true;
  uint64_t begin = a.base, end;
  if (!Add(begin, position) || !Add(end = begin, sizes.packed) || end > a.file_size)
    return ConditionCode(cls::kBeyondFile, 0, 0x01);
  if (options.single && (sizes.packed > kSingleHeaderLimit || sizes.plain > kSingleHeaderLimit))
    return ConditionCode(Cls::ArchiveDamaged, 0, 0x02);
  const bool encrypted = coder.chain_flags & kChainAes;
  const bool compressed = coder.chain_flags & kChainCompress;
  if (compressed && coder.method > kLzma && coder.method != kLzma2)
    return ConditionCode(Cls::UnknownMethod, 0x12, 0x01);
  if (!encrypted && !compressed && sizes.plain != sizes.packed) return HeaderCode(0x04);
  std::unique_ptr<uint8_t[]> packed(new (std::nothrow) uint8_t[sizes.packed ? sizes.packed : 1]);
  if (!packed) return ConditionCode(Cls::NoMemory, 0, 0x02);
  if (StatusCode code =
          ReadAt(a.file, begin, packed.get(), sizes.packed, SystemCode(SysCall::SetFilePointer, 0, 0x02),
                 SystemCode(SysCall::ReadFile, 0, 0x03)))
    return code;
  uint64_t length = sizes.packed;
  if (encrypted) {
    if (sizes.packed % 16 != 0) return HeaderCode(0x03);
    const uint8_t* key;
    if (StatusCode code =
            secrets.Key(coder, ConditionCode(Cls::Cancelled, 0, 0x02), options.password_conversion, key))
      return code;
    StreamCipher cipher;
    if (!cipher.Begin(key, coder, false) || !cipher.Run(packed.get(), sizes.packed))
      return ConditionCode(Cls::CipherData, 0x12, 0x01);
    length = sizes.compressed;  // the padding of the last block is not part of the stream
  }
  if (compressed) {
    codec::Outcome outcome =
        codec::DecompressBlock(CodecMethod(coder.method), coder.properties, coder.properties_size,
                               packed.get(), length, sizes.plain, plain);
    if (StatusCode code = BlockCode(outcome, coder.method)) return code;
  } else {
    if (length < sizes.plain) return HeaderCode(0x04);
    plain = std::move(packed);
  }
  plain_size = sizes.plain;
  if ((crypto::Crc32Update(0xFFFFFFFFu, plain.get(), plain_size) ^ 0xFFFFFFFFu) != sizes.crc)
    return ConditionCode(cls::kHeaderCrc, 0, 0x02);
  if (options.demand_encryption && !encrypted) return ConditionCode(Cls::PasswordProblem, 0, 0x01);
  // The packed streams end where the packed header begins.
  a.index.packed_end = position;
  return kOk;
}

}  // namespace

StatusCode ReaderSecrets::Key(const CoderRecord& coder, StatusCode on_cancel, StatusCode on_conversion,
                              const uint8_t*& key) {
  if (!converted) {
    if (password.empty() && ask) {
      ask = false;
      if (StatusCode code = password.Ask(on_cancel)) return code;
    }
    if (!wide.Set(password)) return on_conversion;
    converted = true;
  }
  return keys.Get(wide, progress, coder, true, key);
}

StatusCode OpenArchive(const char16_t* path, const ReadOptions& options, ReaderSecrets& secrets,
                       OpenedArchive& a) {
  if (!a.file.Open(path, platform::Access::Read, platform::Disposition::OpenExisting))
    return options.open_failure;
  if (!a.file.Size(a.file_size)) return SystemCode(SysCall::GetFileSize, 0, 0x00);
  SignatureInfo info;
  uint64_t start = 0;
  if (StatusCode code = FindStart(a.file, start, info)) return code;
  a.base = start + kSignatureHeaderSize;
  uint64_t next = a.base, next_end;
  if (!Add(next, info.next_offset) || !Add(next_end = next, info.next_size) || next_end > a.file_size)
    return ConditionCode(cls::kBeyondFile, 0, 0x00);
  if (info.next_size == 0) {
    // An archive of nothing: the start header alone.
    a.index = ArchiveIndex{};
    return options.demand_encryption ? ConditionCode(Cls::PasswordProblem, 0, 0x01) : kOk;
  }
  if (options.single && info.next_size > kSingleHeaderLimit)
    return ConditionCode(Cls::ArchiveDamaged, 0, 0x01);
  size_t size = static_cast<size_t>(info.next_size);
  std::unique_ptr<uint8_t[]> header(new (std::nothrow) uint8_t[size]);
  if (!header) return ConditionCode(Cls::NoMemory, 0, 0x01);
  if (StatusCode code = ReadAt(a.file, next, header.get(), size, SystemCode(SysCall::SetFilePointer, 0, 0x01),
                               SystemCode(SysCall::ReadFile, 0, 0x02)))
    return code;
  if ((crypto::Crc32Update(0xFFFFFFFFu, header.get(), size) ^ 0xFFFFFFFFu) != info.next_crc)
    return ConditionCode(cls::kHeaderCrc, 0, 0x01);
  const uint8_t* main = header.get();
  size_t main_size = size;
  std::unique_ptr<uint8_t[]> plain;
  uint64_t packed_limit = info.next_offset;
  if (header[0] == kEncodedHeader) {
    if (size < 2 || header[1] != kPackInfo) return HeaderCode(0x02);
    if (StatusCode code = UnpackHeader(a, header.get(), size, options, secrets, plain, main_size))
      return code;
    packed_limit = a.index.packed_end;
    main = plain.get();
  } else {
    if (header[0] != kHeader) return HeaderCode(0x02);
    if (size < 2 || (header[1] != kMainStreamsInfo && header[1] != kFilesInfo)) return HeaderCode(0x01);
    if (options.demand_encryption) return ConditionCode(Cls::PasswordProblem, 0, 0x01);
  }
  if (StatusCode code = IndexMainHeader(main, main_size, a.index)) return code;
  // Every folder's data must lie between the start header and the header behind it.
  if (a.index.packed_end > packed_limit) return ConditionCode(cls::kBeyondFile, 0, 0x02);
  return kOk;
}

}  // namespace tx::svz
