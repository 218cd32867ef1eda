// The member packer and the central-directory processor.
#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>

#include "crypto/crc.h"
#include "crypto/hash.h"
#include "frame/bytes.h"
#include "frame/random.h"
#include "platform/file.h"
#include "platform/system.h"
#include "ui/progress.h"
#include "ui/prompts.h"
#include "zip/zip_aes.h"
#include "zip/zip_certs.h"
#include "zip/zip_coders.h"
#include "zip/zip_pack.h"
#include "zip/zip_strong.h"

namespace tx::zip {

namespace {

static_assert(kPackWindow <= codec::PieceDeflater::kPiece && kPackWindow <= codec::PieceDeflater::kPackedRoom,
              "the windows are the pieces' buffers");

using platform::SysCall;
constexpr uint8_t kPlace = place::kPackMember;

bool IsAes(uint32_t kind) { return kind == kAe1 || kind == kAe2; }
bool IsStrong(uint32_t kind) { return kind == kStrong3Des || kind == kStrongAes; }

// Encrypts (AES and strong kinds) and writes one piece of member data, counting it. The
// CBC ciphers take whole blocks: a remainder waits in the carry for the next piece, and
// the end pads it.
class DataSink {
 public:
  DataSink(MemberOutput& out, ZipEntryInfo& entry, ZipAesContext* aes, StrongCipher* strong)
      : out_(out), entry_(entry), aes_(aes), strong_(strong) {}
  ~DataSink() { platform::WipeMemory(carry_, sizeof carry_); }

  StatusCode Put(uint8_t* data, size_t size, uint8_t occurrence) {
    if (size == 0) return kOk;
    if (strong_ != nullptr) return PutBlocks(data, size, static_cast<uint8_t>(occurrence - 1));
    if (aes_ != nullptr) ZipAesEncrypt(data, size, *aes_);
    return Write(data, size, occurrence);
  }

  // The carry filled up with padding (a full block when it is empty), encrypted, written.
  StatusCode Pad() {
    const size_t block = strong_->block();
    const uint8_t pad = static_cast<uint8_t>(block - carried_);
    std::memset(carry_ + carried_, pad, pad);
    carried_ = 0;
    if (!strong_->Run(carry_, block)) return ConditionCode(Cls::NoMemory, kPlace, 0x03);
    return Write(carry_, block, 0x05);
  }

 private:
  StatusCode Write(const uint8_t* data, size_t size, uint8_t occurrence) {
    if (!out_.Write(data, size)) return SystemCode(SysCall::WriteFile, kPlace, occurrence);
    entry_.compressed_size += size;
    return kOk;
  }

  StatusCode PutBlocks(uint8_t* data, size_t size, uint8_t occurrence) {
    const size_t block = strong_->block();
    if (carried_ > 0) {
      const size_t take = std::min(block - carried_, size);
      std::memcpy(carry_ + carried_, data, take);
      carried_ += take;
      data += take;
      size -= take;
      if (carried_ < block) return kOk;
      carried_ = 0;
      if (!strong_->Run(carry_, block)) return ConditionCode(Cls::NoMemory, kPlace, 0x03);
      if (StatusCode code = Write(carry_, block, occurrence)) return code;
    }
    const size_t whole = size - size % block;
    if (whole > 0) {
      if (!strong_->Run(data, whole)) return ConditionCode(Cls::NoMemory, kPlace, 0x03);
      if (StatusCode code = Write(data, whole, occurrence)) return code;
    }
    std::memcpy(carry_, data + whole, size - whole);
    carried_ = size - whole;
    return kOk;
  }

  MemberOutput& out_;
  ZipEntryInfo& entry_;
  ZipAesContext* aes_;
  StrongCipher* strong_;
  uint8_t carry_[16] = {};
  size_t carried_ = 0;
};

// Runs the coder over its input (or to the end with `finish`), writing every full output
// block; a partial block stays in `out` for later.
StatusCode Drain(codec::Compressor& coder, uint8_t* out, size_t& used, bool finish, DataSink& sink,
                 uint8_t site) {
  for (;;) {
    codec::Compressor::Step step = coder.Run(out, kPackWindow, used, finish);
    if (step == codec::Compressor::Step::Failed)
      return ConditionCode(Cls::CoderFailed, kPlace, static_cast<uint8_t>(site + (finish ? 0x12 : 0x11)));
    if (step == codec::Compressor::Step::OutputFull) {
      if (StatusCode code = sink.Put(out, used, static_cast<uint8_t>(site + (finish ? 0x06 : 0x04))))
        return code;
      used = 0;
      continue;
    }
    return kOk;  // NeedInput, or Done when finishing
  }
}

class FileOutput final : public MemberOutput {
 public:
  explicit FileOutput(platform::File& file) : file_(file) {}
  bool Write(const uint8_t* data, size_t size) override { return file_.Write(data, size); }

 private:
  platform::File& file_;
};

// Reports the 64 KiB blocks of a `size`-byte input that end after `before` and up to
// `after` bytes.
StatusCode ReportBlocks(uint64_t size, uint64_t before, uint64_t after) {
  for (uint64_t end = (before / kPackBlock + 1) * kPackBlock;; end += kPackBlock) {
    const uint64_t done = end < size ? end : size;
    if (done > after) return kOk;
    if (ui::ProgressUpdate(static_cast<uint32_t>(100 - (size - done) * 100 / size)) != 0)
      return ConditionCode(Cls::Cancelled, kPlace, 0x01);
    if (done == size) return kOk;
  }
}

}  // namespace

StatusCode ReplayProgress(uint64_t size) { return size == 0 ? kOk : ReportBlocks(size, 0, size); }

bool DirectoryBlock::Reserve(size_t capacity) {
  if (capacity <= capacity_) return true;
  std::unique_ptr<uint8_t[]> grown(new (std::nothrow) uint8_t[capacity]);
  if (!grown) return false;
  if (size_ != 0) std::memcpy(grown.get(), bytes_.get(), size_);
  Wipe();
  bytes_ = std::move(grown);
  capacity_ = capacity;
  return true;
}

uint8_t* DirectoryBlock::Room(size_t length) {
  size_t needed = size_ + length;
  if (needed > 0xFFFFFFFFu) return nullptr;
  if (needed > capacity_ && !Reserve((needed + kDirectoryGrow) / kDirectoryGrow * kDirectoryGrow))
    return nullptr;
  return bytes_.get() + size_;
}

bool DirectoryBlock::Append(const uint8_t* record, size_t length) {
  uint8_t* room = Room(length);
  if (room == nullptr) return false;
  std::memcpy(room, record, length);
  Advance(length);
  return true;
}

void DirectoryBlock::Wipe() {
  if (bytes_) platform::WipeMemory(bytes_.get(), capacity_);
}

bool MemberWriter::Allocate(unsigned threads) { return pieces.Allocate(threads); }

StatusCode PackMember(MemberWriter& writer, const char16_t* path, ZipEntryInfo& entry) {
  FileOutput archive(writer.archive.file());
  return PackMemberTo(writer, archive, path, entry, (writer.flags & 1) != 0);
}

StatusCode PackMemberTo(MemberWriter& writer, MemberOutput& archive, const char16_t* path,
                        ZipEntryInfo& entry, bool report) {
  platform::File source;
  if (!source.Open(path, platform::Access::Read, platform::Disposition::OpenExisting, true))
    return SystemCode(SysCall::CreateFile, kPlace, 0x01);
  entry.compressed_size = 0;
  // Draws from the generator are not shared between threads.
  std::unique_lock<std::mutex> draws;
  if (writer.draws != nullptr) draws = std::unique_lock<std::mutex>(*writer.draws);

  ZipAesContext aes;
  StrongCipher strong;
  const bool encrypted = IsAes(entry.encryption);
  const bool strong_kind = IsStrong(entry.encryption);
  if (strong_kind) {
    std::unique_ptr<uint8_t[]> header(new (std::nothrow) uint8_t[kStrongMaxHeader]);
    if (!header) return ConditionCode(Cls::NoMemory, kPlace, 0x04);
    size_t length = 0;
    StatusCode code = BuildStrongHeader(header.get(), length, *writer.password, entry, *writer.state, strong);
    if (draws.owns_lock()) draws.unlock();
    const bool written = code == kOk && archive.Write(header.get(), length);
    platform::WipeMemory(header.get(), kStrongMaxHeader);
    if (code != kOk) return code;
    if (!written) return SystemCode(SysCall::WriteFile, kPlace, 0x01);
    entry.compressed_size += length;
  } else if (encrypted) {
    size_t salt = entry.key_length / 2;
    uint8_t prologue[16 + kAesVerifierSize];
    if (StatusCode code = frame::RandomBytes(prologue, salt)) return code;
    if (draws.owns_lock()) draws.unlock();
    if (!ZipAesSetup(entry.key_length, writer.password->data(), writer.password->size(), prologue,
                     prologue + salt, aes))
      return ConditionCode(Cls::NoMemory, kPlace, 0x02);
    if (!archive.Write(prologue, salt + kAesVerifierSize))
      return SystemCode(SysCall::WriteFile, kPlace, 0x02);
    entry.compressed_size += salt + kAesVerifierSize + kAesCodeSize;
  }

  if (draws.owns_lock()) draws.unlock();
  const uint8_t site = MethodSite(entry.method);
  const bool store = entry.method == kStore;
  codec::Method method;
  if (!store && !CodecMethod(entry.method, method))
    return ConditionCode(Cls::CoderInit, kPlace, static_cast<uint8_t>(site + 0x01));
  const bool pieces = !store && method == codec::Method::kDeflate;
  if (!store && !pieces && !writer.coder.Begin(method, static_cast<int>(entry.level), kMemberMemoryLevel))
    return ConditionCode(Cls::CoderInit, kPlace, static_cast<uint8_t>(site + 0x01));
  if (pieces) writer.pieces.Begin(static_cast<int>(entry.level), kMemberMemoryLevel);

  DataSink sink(archive, entry, encrypted ? &aes : nullptr, strong_kind ? &strong : nullptr);
  MemberDigest signed_digest;
  const bool sign = writer.signer != nullptr && (writer.state->signing_flags & 2);
  if (sign && !signed_digest.Begin(writer.signer->hash_id)) return ConditionCode(Cls::NoMemory, kPlace, 0x07);
  const bool crc = entry.encryption != kAe2;  // AE-2 stores no CRC, so none is computed
  uint32_t reg = 0xFFFFFFFFu;
  const uint64_t size = entry.uncompressed_size;
  uint64_t remaining = size;
  // Reads the next window of at most `room` bytes into `in`, digesting and reporting it.
  auto take = [&](uint8_t* in, size_t room, size_t& n) -> StatusCode {
    n = remaining < room ? static_cast<size_t>(remaining) : room;
    if (n == 0) return kOk;
    if (!source.Read(in, n)) return SystemCode(SysCall::ReadFile, kPlace, 0x01);
    remaining -= n;
    if (report)
      if (StatusCode code = ReportBlocks(size, size - remaining - n, size - remaining)) return code;
    if (writer.stop != nullptr && writer.stop->load(std::memory_order_relaxed))
      return ConditionCode(Cls::Cancelled, kPlace, 0x01);
    if (crc) reg = crypto::Crc32Update(reg, in, n);
    if (sign) signed_digest.Update(in, n);
    return kOk;
  };

  if (pieces) {
    // Pairs of pieces, the second coded on the other thread where there is one.
    constexpr size_t kPiece = codec::PieceDeflater::kPiece;
    do {
      size_t first = 0, second = 0, packed_first = 0, packed_second = 0;
      if (StatusCode code = take(writer.pieces.Input(0), kPiece, first)) return code;
      if (StatusCode code = take(writer.pieces.Input(1), kPiece, second)) return code;
      if (!writer.pieces.CodePair(first, second, remaining == 0, packed_first, packed_second))
        return ConditionCode(Cls::CoderFailed, kPlace,
                             static_cast<uint8_t>(site + (remaining == 0 ? 0x12 : 0x11)));
      const uint8_t put_site = static_cast<uint8_t>(site + (remaining == 0 ? 0x05 : 0x04));
      if (StatusCode code = sink.Put(writer.pieces.Packed(0), packed_first, put_site)) return code;
      if (StatusCode code = sink.Put(writer.pieces.Packed(1), packed_second, put_site)) return code;
    } while (remaining > 0);
  } else {
    uint8_t* in = writer.pieces.Input(0);
    uint8_t* out = writer.pieces.Packed(0);
    size_t used = 0;
    while (remaining > 0) {
      size_t n = 0;
      if (StatusCode code = take(in, kPackWindow, n)) return code;
      if (store) {
        if (StatusCode code = sink.Put(in, n, 0x04)) return code;
        continue;
      }
      writer.coder.SetInput(in, n);
      if (StatusCode code = Drain(writer.coder, out, used, false, sink, site)) return code;
    }
    if (!store) {
      if (StatusCode code = Drain(writer.coder, out, used, true, sink, site)) return code;
      if (StatusCode code = sink.Put(out, used, static_cast<uint8_t>(site + 0x05))) return code;
      if (!writer.coder.End()) return ConditionCode(Cls::CoderEnd, kPlace, static_cast<uint8_t>(site + 0x11));
    }
  }
  if (strong_kind)
    if (StatusCode code = sink.Pad()) return code;
  if (encrypted) {
    uint8_t code[kAesCodeSize];
    ZipAesFinish(code, aes);
    if (!archive.Write(code, sizeof code)) return SystemCode(SysCall::WriteFile, kPlace, 0x06);
  }
  entry.crc32 = crc ? ~reg : 0;
  return sign ? SignMember(*writer.signer, signed_digest, entry) : kOk;
}

StatusCode ProcessCentralDirectory(uint8_t* block, uint8_t* out, size_t capacity, const ZipEntryInfo& cipher,
                                   const Password& password, ZipArchiveState& state) {
  // Room kept for the decryption header of an encrypted directory.
  constexpr size_t kHeaderRoom = 310;
  const size_t size = state.cd_original_size;
  std::memset(state.hash, 0, sizeof state.hash);
  switch (state.hash_algorithm) {
    case kHashMd5:
      if (!crypto::Md5Digest(block, size, state.hash)) return ConditionCode(Cls::NoMemory, kPlace, 0x31);
      break;
    case kHashSha1:
      if (!crypto::Sha1Digest(block, size, state.hash)) return ConditionCode(Cls::NoMemory, kPlace, 0x31);
      break;
    default: {
      uint32_t crc = ~crypto::Crc32Update(0xFFFFFFFFu, block, size);
      frame::StoreU32(state.hash, crc);
    }
  }
  size_t stored = size;
  if (state.cd_flags & 1) {
    if (capacity < kHeaderRoom) return ConditionCode(Cls::CoderFailed, 0x1e, 0x11);
    if (StatusCode code =
            CompressBuffer(cipher.method, cipher.level, block, size, out, stored, capacity - kHeaderRoom))
      return code;
    std::memcpy(block, out, stored);
  }
  if (state.cd_flags & 2) {
    // Decryption header, then the block padded to whole cipher blocks and encrypted.
    StrongCipher strong;
    size_t header = 0;
    if (StatusCode code = BuildStrongHeader(out, header, password, cipher, state, strong)) return code;
    const size_t cipher_block = strong.block();
    const size_t pad = cipher_block - stored % cipher_block;
    if (header + stored + pad > capacity) return ConditionCode(Cls::NoMemoryGrow, kPlace, 0x31);
    std::memcpy(out + header, block, stored);
    std::memset(out + header + stored, static_cast<int>(pad), pad);
    if (!strong.Run(out + header, stored + pad)) return ConditionCode(Cls::NoMemory, kPlace, 0x32);
    stored += header + pad;
    std::memcpy(block, out, stored);
  }
  state.cd_size = static_cast<uint32_t>(stored);
  return kOk;
}

}  // namespace tx::zip
