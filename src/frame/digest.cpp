#include "frame/digest.h"

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "crypto/crc.h"
#include "crypto/hash.h"
#include "frame/call_frame.h"
#include "platform/cores.h"
#include "platform/file.h"
#include "platform/memory.h"
#include "platform/text.h"
#include "ui/progress.h"

namespace tx::frame {

namespace {

// Progress is reported, and the hash fed, per block; the file is read a buffer at a time.
constexpr size_t kBlockSize = 65536;
constexpr size_t kBufferSize = size_t{1} << 20;
constexpr size_t kBuffers = 4;
constexpr unsigned kMaxReaders = 2;

// Reads a file on one or two other threads while the caller hashes what has been read, so
// the page-cache copy overlaps the hashing; with two readers, one takes the even buffers
// and the other the odd ones, which matters when hashing is faster than one copy. A file
// of one buffer or less, or a system that gives no thread, is read on the caller's thread.
// After a failed read the caller reads the rest itself, so that a failure is noted for the
// caller's host. No thread outlives the object.
class ReadAhead {
 public:
  ReadAhead(platform::File& file, uint64_t size) : file_(file), size_(size) {}
  ~ReadAhead() { Stop(); }
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  // Allocates the buffers (once per call) and starts `readers` (1 or 2) reading threads;
  // false without memory.
  bool Start(unsigned readers) {
    chunk_ = static_cast<size_t>(std::min<uint64_t>(std::max<uint64_t>(size_, 1), kBufferSize));
    count_ = size_ > kBufferSize ? kBuffers : 1;
    // The kernel copies faster into huge pages: fewer address translations per buffer.
    memory_.reset(static_cast<uint8_t*>(platform::AllocateLarge(chunk_ * count_)));
    if (!memory_) return false;
    if (count_ == 1) return true;
    readers = std::min(std::max(readers, 1u), kMaxReaders);
    try {
      for (unsigned r = 0; r < readers; ++r)
        threads_[r] = std::thread([this, r, readers] { Run(r, readers); });
    } catch (const std::system_error&) {
      Stop();  // a reader's share would be missing: read on this thread instead
    }
    return true;
  }

  // The next piece of the file, at most one buffer. False when it cannot be read.
  bool Next(const uint8_t*& data, size_t& size) {
    if (threads_[0].joinable()) {
      std::unique_lock lock(mutex_);
      if (holding_) {  // the caller is done with the piece it had
        holding_ = false;
        ready_[tail_ % count_] = false;
        ++tail_;
        changed_.notify_all();
      }
      const size_t slot = tail_ % count_;
      changed_.wait(lock, [this, slot] { return ready_[slot] || failed_; });
      if (ready_[slot]) {
        data = memory_.get() + slot * chunk_;
        size = lengths_[slot];
        taken_ += size;
        holding_ = true;
        return true;
      }
      lock.unlock();
      Stop();
      if (!file_.Seek(static_cast<int64_t>(taken_), platform::SeekFrom::Begin)) return false;
    }
    size = static_cast<size_t>(std::min<uint64_t>(chunk_, size_ - taken_));
    if (!file_.Read(memory_.get(), size)) return false;
    data = memory_.get();
    taken_ += size;
    return true;
  }

 private:
  // Reads pieces first, first + stride, ... each into its buffer once that is free.
  void Run(uint64_t first, uint64_t stride) {
    for (uint64_t piece = first; piece * chunk_ < size_; piece += stride) {
      {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this, piece] { return stop_ || piece < tail_ + count_; });
        if (stop_) return;
      }
      const uint64_t at = piece * chunk_;
      const size_t slot = static_cast<size_t>(piece % count_);
      const size_t n = static_cast<size_t>(std::min<uint64_t>(chunk_, size_ - at));
      const bool read = file_.ReadAt(at, memory_.get() + slot * chunk_, n);
      std::lock_guard lock(mutex_);
      if (!read) {
        failed_ = true;
        changed_.notify_all();
        return;
      }
      lengths_[slot] = n;
      ready_[slot] = true;
      changed_.notify_all();
    }
  }

  void Stop() {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    changed_.notify_all();
    for (std::thread& thread : threads_)
      if (thread.joinable()) thread.join();
  }

  platform::File& file_;
  const uint64_t size_;
  size_t chunk_ = 0, count_ = 1;
  struct Free {
    void operator()(uint8_t* block) const { std::free(block); }
  };
  std::unique_ptr<uint8_t[], Free> memory_;
  std::thread threads_[kMaxReaders];
  std::mutex mutex_;
  std::condition_variable changed_;
  // Guarded by mutex_: the oldest piece not given back, which buffers hold a piece, their
  // lengths, and the readers' state.
  uint64_t tail_ = 0;
  bool ready_[kBuffers] = {};
  size_t lengths_[kBuffers] = {};
  bool failed_ = false, stop_ = false;
  // The caller's side only.
  bool holding_ = false;
  uint64_t taken_ = 0;
};

// CRCs run faster than one thread copies from the page cache, so they get two readers.
struct Crc32Algorithm {
  static constexpr size_t kSize = 4;
  static constexpr unsigned kReaders = 2;
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
  static constexpr unsigned kReaders = 2;
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
#define TX_HASH_ALGORITHM(Name, Ctx, Prefix, Size, Place)                                   \
  struct Name {                                                                             \
    static constexpr size_t kSize = Size;                                                   \
    static constexpr unsigned kReaders = 1;                                                 \
    static constexpr uint8_t kPlace = Place;                                                \
    crypto::Ctx ctx;                                                                        \
    bool Init() { return crypto::Prefix##Init(ctx); }                                       \
    void Update(const void* data, size_t size) { crypto::Prefix##Update(ctx, data, size); } \
    void Final(uint8_t* out) { crypto::Prefix##Final(ctx, out); }                           \
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
    ReadAhead reader(file, size);
    if (!reader.Start(std::min(Algorithm::kReaders, platform::WorkerThreads(kMaxReaders))))
      return ConditionCode(Cls::NoMemory, kPlace, 0x01);
    for (uint64_t remaining = size; remaining > 0;) {
      const uint8_t* piece;
      size_t got;
      if (!reader.Next(piece, got)) return SystemCode(platform::SysCall::ReadFile, kPlace, 0x01);
      for (size_t at = 0; at < got; at += kBlockSize) {
        const size_t n = std::min(kBlockSize, got - at);
        remaining -= n;
        // Reported before the block is fed, so a cancel after the last read writes nothing.
        if (frame.progress() && ui::ProgressUpdate(static_cast<uint32_t>(100 - remaining * 100 / size)) != 0)
          return ConditionCode(Cls::Cancelled, kPlace, 0x02);
        algorithm.Update(piece + at, n);
      }
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

StatusCode FileDigest(DigestAlgorithm algorithm, void* parent, const char* path, uint32_t flags,
                      void* result) {
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
