#include "frame/digest.h"

#include <cstring>

#include "crypto/crc.h"
#include "crypto/hash.h"
#include "frame/call_frame.h"
#include "platform/file.h"
#include "platform/text.h"
#include "ui/progress.h"

namespace tx::frame {

namespace {

constexpr size_t kBlockSize = 65536;

struct Crc32Algorithm {
  static constexpr size_t kSize = 4;
  static constexpr uint8_t kPlace = place::kFileCrc32;
  uint32_t reg = 0;
  bool Init() {
    reg = 0xFFFFFFFFu;
    return true;
  }
  void Update(const void* data, size_t size) { reg = crypto::Crc32Update(reg, data, size); }
  void Final(uint8_t* out) {
    uint32_t value = ~reg;
    std::memcpy(out, &value, kSize);  // the machine's (little-endian) order
  }
};

struct Crc64Algorithm {
  static constexpr size_t kSize = 8;
  static constexpr uint8_t kPlace = place::kFileCrc64;
  uint64_t reg = 0;
  bool Init() {
    reg = ~uint64_t{0};
    return true;
  }
  void Update(const void* data, size_t size) { reg = crypto::Crc64Update(reg, data, size); }
  void Final(uint8_t* out) {
    uint32_t words[2] = {static_cast<uint32_t>(~reg), static_cast<uint32_t>(~reg >> 32)};  // low word first
    std::memcpy(out, words, kSize);
  }
};

// The standard hashes share one shape; the macro only binds the names.
#define TX_HASH_ALGORITHM(Name, Ctx, Prefix, Size, Place)                                  \
  struct Name {                                                                          \
    static constexpr size_t kSize = Size;                                                \
    static constexpr uint8_t kPlace = Place;                                             \
    crypto::Ctx ctx;                                                                     \
    bool Init() { return crypto::Prefix##Init(ctx); }                                    \
    void Update(const void* data, size_t size) { crypto::Prefix##Update(ctx, data, size); } \
    void Final(uint8_t* out) { crypto::Prefix##Final(ctx, out); }                        \
  };
TX_HASH_ALGORITHM(Md5Algorithm, Md5Context, Md5, 16, place::kFileMd5)
TX_HASH_ALGORITHM(Rmd160Algorithm, Rmd160Context, Rmd160, 20, place::kFileRipemd160)
TX_HASH_ALGORITHM(Sha1Algorithm, Sha1Context, Sha1, 20, place::kFileSha1)
TX_HASH_ALGORITHM(Sha256Algorithm, Sha256Context, Sha256, 32, place::kFileSha256)
TX_HASH_ALGORITHM(Sha512Algorithm, Sha512Context, Sha512, 64, place::kFileSha512)
TX_HASH_ALGORITHM(WhirlpoolAlgorithm, WhirlpoolContext, Whirlpool, 64, place::kFileWhirlpool)
#undef TX_HASH_ALGORITHM

template <typename Algorithm>
StatusCode Run(void* parent, const char* path, uint32_t flags, void* result) {
  return RunExport(parent, flags, [&](CallFrame& frame) -> StatusCode {
    constexpr uint8_t kPlace = Algorithm::kPlace;
    platform::WidePath wide;
    if (StatusCode code = ToWidePath(path, wide)) return code;
    if (frame.progress() && ui::ProgressOpen(1, 1, 3004, u"", u"", wide.c_str()) != ui::kProgressGoOn)
      return ConditionCode(Cls::Cancelled, kPlace, 0x01);

    platform::File file;
    if (!file.Open(wide.c_str(), platform::Access::Read, platform::Disposition::OpenExisting, true))
      return SystemCode(platform::SysCall::CreateFile, kPlace, 0x01);
    uint64_t size;
    if (!file.Size(size)) return SystemCode(platform::SysCall::GetFileSize, kPlace, 0x01);

    Algorithm algorithm;
    if (!algorithm.Init()) return ConditionCode(Cls::NoMemory, kPlace, 0x01);
    alignas(64) unsigned char block[kBlockSize];
    for (uint64_t remaining = size; remaining > 0;) {
      size_t n = remaining < kBlockSize ? static_cast<size_t>(remaining) : kBlockSize;
      if (!file.Read(block, n)) return SystemCode(platform::SysCall::ReadFile, kPlace, 0x01);
      remaining -= n;
      // Reported before the block is fed, so a cancel after the last read writes nothing.
      if (frame.progress() && ui::ProgressUpdate(static_cast<uint32_t>(100 - remaining * 100 / size)) != 0)
        return ConditionCode(Cls::Cancelled, kPlace, 0x02);
      algorithm.Update(block, n);
    }
    uint8_t digest[Algorithm::kSize];
    algorithm.Final(digest);
    std::memcpy(result, digest, Algorithm::kSize);
    return kOk;
  });
}

}  // namespace

size_t DigestSize(DigestAlgorithm algorithm) {
  switch (algorithm) {
    case DigestAlgorithm::Crc32: return Crc32Algorithm::kSize;
    case DigestAlgorithm::Crc64: return Crc64Algorithm::kSize;
    case DigestAlgorithm::Md5: return Md5Algorithm::kSize;
    case DigestAlgorithm::Ripemd160: return Rmd160Algorithm::kSize;
    case DigestAlgorithm::Sha1: return Sha1Algorithm::kSize;
    case DigestAlgorithm::Sha256: return Sha256Algorithm::kSize;
    case DigestAlgorithm::Sha512: return Sha512Algorithm::kSize;
    case DigestAlgorithm::Whirlpool: return WhirlpoolAlgorithm::kSize;
  }
  return 0;
}

StatusCode FileDigest(DigestAlgorithm algorithm, void* parent, const char* path, uint32_t flags, void* result) {
  switch (algorithm) {
    case DigestAlgorithm::Crc32: return Run<Crc32Algorithm>(parent, path, flags, result);
    case DigestAlgorithm::Crc64: return Run<Crc64Algorithm>(parent, path, flags, result);
    case DigestAlgorithm::Md5: return Run<Md5Algorithm>(parent, path, flags, result);
    case DigestAlgorithm::Ripemd160: return Run<Rmd160Algorithm>(parent, path, flags, result);
    case DigestAlgorithm::Sha1: return Run<Sha1Algorithm>(parent, path, flags, result);
    case DigestAlgorithm::Sha256: return Run<Sha256Algorithm>(parent, path, flags, result);
    case DigestAlgorithm::Sha512: return Run<Sha512Algorithm>(parent, path, flags, result);
    case DigestAlgorithm::Whirlpool: return Run<WhirlpoolAlgorithm>(parent, path, flags, result);
  }
  return ConditionCode(Cls::BadArgument, place::kExportBody, 0);
}

}  // namespace tx::frame
