// The LZMA encoder's match finder on a thread of its own.
//
// The worker runs the SDK's single-threaded finder over the whole input and asks it for the
// matches at every position, queueing them in blocks that the encoder takes in order. A
// finder asked at every position keeps the same tables as one the encoder asks at some
// positions and tells to skip the others, so the matches, and the encoded bytes, do not
// depend on the thread count.
//
// Every read of the input stays on the encoder's thread, since a source may report progress
// to the user or check for a cancel: the encoder fills a ring from which the worker's finder
// reads. The encoder reads its bytes from the worker's window, which keeps history enough
// for the distance between the two; the window slides only while the encoder waits between
// two blocks of matches.
#include <lzma/LzFind.h>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <thread>

#include "codec/lzma_sdk_mt/LzFindMt.h"

namespace tx::codec {

namespace {

constexpr uint32_t kSlots = 4;
constexpr uint32_t kBlockPositions = 1u << 14;
constexpr uint32_t kBlockWords = 1u << 17;
constexpr uint32_t kLongestMatch = 273;
constexpr uint32_t kRecordWords = 1 + 2 * kLongestMatch + 2;  // a count, then length-distance pairs
// How far the worker may get ahead of the encoder, in positions.
constexpr uint32_t kAhead = kSlots * kBlockPositions;
constexpr size_t kRingSize = size_t{4} << 20;
constexpr size_t kFeed = size_t{1} << 20;

struct Block {
  uint32_t* words = nullptr;  // a record per position
  uint32_t positions = 0;
  uint32_t avail_after = 0;  // input the finder had ahead of it after the last position
  bool last = false;
};

class MatchThread {
 public:
  MatchThread(CMatchFinder* base, ISzAlloc* alloc) : base_(base), alloc_(alloc) {
    MatchFinder_Construct(&finder_);
  }
  ~MatchThread() {
    Stop();
    MatchFinder_Free(&finder_, alloc_);
  }
  MatchThread(const MatchThread&) = delete;
  MatchThread& operator=(const MatchThread&) = delete;

  SRes Create(UInt32 history, UInt32 before, UInt32 match_max, UInt32 after) {
    if (base_->directInput) return SZ_ERROR_PARAM;  // the encoder's in-memory mode is not ours
    finder_.btMode = base_->btMode;
    finder_.numHashBytes = base_->numHashBytes;
    finder_.cutValue = base_->cutValue;
    finder_.bigHash = base_->bigHash;
    source_ = base_->stream;
    ring_.reset(new (std::nothrow) uint8_t[kRingSize]);
    words_.reset(new (std::nothrow) uint32_t[size_t{kSlots} * kBlockWords]);
    if (!ring_ || !words_) return SZ_ERROR_MEM;
    for (uint32_t i = 0; i < kSlots; ++i) blocks_[i].words = words_.get() + size_t{i} * kBlockWords;
    if (!MatchFinder_Create(&finder_, history, before + kAhead, match_max, after, alloc_))
      return SZ_ERROR_MEM;
    MatchFinder_CreateVTable(&finder_, &calls_);
    finder_.stream = &ring_stream_.stream;
    try {
      thread_ = std::thread([this] { Work(); });
    } catch (...) {  // no thread (system_error) or no memory for its state (bad_alloc)
      return SZ_ERROR_THREAD;
    }
    return SZ_OK;
  }

  // --- the encoder's side, on its thread ---

  void Init() {
    base_->result = SZ_OK;  // the encoder checks it for read failures
    cur_ = finder_.bufferBase;
    std::lock_guard<std::mutex> lock(m_);
    go_ = true;
    worker_cv_.notify_one();
  }

  UInt32 Available() {
    if (!holding_) NextBlock();
    return avail_after_ + left_;
  }
  const Byte* Current() const { return cur_; }

  UInt32 Matches(UInt32* distances) {
    while (left_ == 0) {
      if (!NextBlock()) return 0;
    }
    const UInt32 count = *rec_;
    std::memcpy(distances, rec_ + 1, size_t{count} * sizeof(UInt32));
    rec_ += 1 + count;
    --left_;
    ++cur_;
    return count;
  }

  void Skip(UInt32 count) {
    for (; count != 0; --count) {
      while (left_ == 0) {
        if (!NextBlock()) return;
      }
      rec_ += 1 + *rec_;
      --left_;
      ++cur_;
    }
  }

  // Raises the stop and waits for the worker; safe to call again.
  void Stop() {
    {
      std::lock_guard<std::mutex> lock(m_);
      stop_ = true;
    }
    worker_cv_.notify_all();
    if (thread_.joinable()) thread_.join();
  }

 private:
  struct RingStream {
    ISeqInStream stream;
    MatchThread* owner;
  };

  // Gives back the block read so far and takes the next, filling the ring and letting the
  // worker slide its window meanwhile. False at the end of the input.
  bool NextBlock() {
    if (holding_ && last_) return false;
    std::unique_lock<std::mutex> lock(m_);
    if (holding_) {
      ++released_;
      holding_ = false;
      worker_cv_.notify_one();
    }
    for (;;) {
      if (!source_end_ && kRingSize - (ring_written_ - ring_read_) >= kFeed) {
        Feed(lock);
        continue;
      }
      if (move_wanted_) {
        if (!parked_) {
          parked_ = true;
          worker_cv_.notify_one();
        }
        encoder_cv_.wait(lock);
        continue;
      }
      if (parked_) {  // the window slid while we waited
        parked_ = false;
        cur_ -= shift_;
        shift_ = 0;
      }
      if (published_ > released_) break;
      encoder_cv_.wait(lock);
    }
    const Block& block = blocks_[released_ % kSlots];
    holding_ = true;
    rec_ = block.words;
    left_ = block.positions;
    avail_after_ = block.avail_after;
    last_ = block.last;
    return true;
  }

  // Reads up to kFeed bytes from the source into the ring's free space, without the lock.
  void Feed(std::unique_lock<std::mutex>& lock) {
    const size_t at = static_cast<size_t>(ring_written_ % kRingSize);
    size_t size = kFeed < kRingSize - at ? kFeed : kRingSize - at;
    lock.unlock();
    const SRes result = source_->Read(source_, ring_.get() + at, &size);
    lock.lock();
    if (result != SZ_OK) {
      base_->result = result;  // the encoder stops at its next check, as on one thread
      size = 0;
    }
    if (size == 0) source_end_ = true;
    ring_written_ += size;
    worker_cv_.notify_one();
  }

  // --- the worker's side ---

  static SRes RingRead(void* self, void* buffer, size_t* size) {
    return static_cast<RingStream*>(self)->owner->Take(static_cast<uint8_t*>(buffer), *size);
  }

  SRes Take(uint8_t* buffer, size_t& size) {
    std::unique_lock<std::mutex> lock(m_);
    while (ring_written_ == ring_read_ && !source_end_ && !stop_) {
      encoder_cv_.notify_one();  // the encoder may be waiting for a block and can feed us
      worker_cv_.wait(lock);
    }
    const uint64_t have = ring_written_ - ring_read_;
    if (stop_ || have == 0) {
      size = 0;
      return SZ_OK;
    }
    const size_t at = static_cast<size_t>(ring_read_ % kRingSize);
    if (size > have) size = static_cast<size_t>(have);
    if (size > kRingSize - at) size = kRingSize - at;
    lock.unlock();
    std::memcpy(buffer, ring_.get() + at, size);
    lock.lock();
    ring_read_ += size;
    return SZ_OK;
  }

  // Whether the finder's next step may slide its window down (it does so after moving on,
  // before the end of the input, when too little room is left ahead of the position).
  bool WouldSlide() const {
    return !finder_.streamEndWasReached && finder_.pos + 1 == finder_.posLimit &&
           static_cast<size_t>(finder_.bufferBase + finder_.blockSize - (finder_.buffer + 1)) <=
               finder_.keepSizeAfter;
  }

  // Waits until the encoder holds no pointer into the window. False when stopped.
  bool Park() {
    std::unique_lock<std::mutex> lock(m_);
    move_wanted_ = true;
    encoder_cv_.notify_one();
    while (!parked_ && !stop_) worker_cv_.wait(lock);
    return !stop_;
  }

  void Unpark(ptrdiff_t shift) {
    {
      std::lock_guard<std::mutex> lock(m_);
      shift_ += shift;  // a second slide may come before the encoder wakes
      move_wanted_ = false;
    }
    encoder_cv_.notify_one();
  }

  void Work() {
    {
      std::unique_lock<std::mutex> lock(m_);
      while (!go_ && !stop_) worker_cv_.wait(lock);
      if (stop_) return;
    }
    MatchFinder_Init(&finder_);
    for (uint64_t index = 0;; ++index) {
      {
        std::unique_lock<std::mutex> lock(m_);
        while (published_ - released_ >= kSlots && !stop_) worker_cv_.wait(lock);
        if (stop_) return;
      }
      Block& block = blocks_[index % kSlots];
      uint32_t* words = block.words;
      uint32_t used = 0, positions = 0;
      bool end = false;
      while (positions < kBlockPositions && used + kRecordWords <= kBlockWords) {
        if (finder_.streamPos == finder_.pos) {
          end = true;
          break;
        }
        const bool slides = WouldSlide();
        if (slides && !Park()) return;
        const Byte* before = finder_.buffer;
        const UInt32 count = calls_.GetMatches(&finder_, words + used + 1);
        words[used] = count;
        used += 1 + count;
        ++positions;
        if (slides) Unpark(before + 1 - finder_.buffer);
      }
      block.positions = positions;
      block.avail_after = finder_.streamPos - finder_.pos;
      block.last = end;
      {
        std::lock_guard<std::mutex> lock(m_);
        ++published_;
      }
      encoder_cv_.notify_one();
      if (end) return;
    }
  }

  CMatchFinder* base_;  // the encoder's finder: settings in, read failures out
  ISzAlloc* alloc_;
  CMatchFinder finder_;  // the worker's
  IMatchFinder calls_ = {};
  ISeqInStream* source_ = nullptr;
  RingStream ring_stream_{{&MatchThread::RingRead}, this};
  std::unique_ptr<uint8_t[]> ring_;
  std::unique_ptr<uint32_t[]> words_;
  Block blocks_[kSlots];
  std::thread thread_;

  // Shared, under m_.
  std::mutex m_;
  std::condition_variable worker_cv_, encoder_cv_;
  bool go_ = false, stop_ = false;
  uint64_t published_ = 0, released_ = 0;  // blocks
  uint64_t ring_written_ = 0, ring_read_ = 0;
  bool source_end_ = false;
  bool move_wanted_ = false, parked_ = false;
  ptrdiff_t shift_ = 0;

  // The encoder's alone.
  const Byte* cur_ = nullptr;
  const uint32_t* rec_ = nullptr;
  uint32_t left_ = 0, avail_after_ = 0;
  bool holding_ = false, last_ = false;
};

MatchThread* Of(void* object) {
  return static_cast<MatchThread*>(static_cast<CMatchFinderMt*>(object)->state);
}

void CallInit(void* object) { Of(object)->Init(); }
Byte CallIndexByte(void* object, Int32 index) { return Of(object)->Current()[index]; }
UInt32 CallAvailable(void* object) { return Of(object)->Available(); }
const Byte* CallCurrent(void* object) { return Of(object)->Current(); }
UInt32 CallMatches(void* object, UInt32* distances) { return Of(object)->Matches(distances); }
void CallSkip(void* object, UInt32 count) { Of(object)->Skip(count); }

}  // namespace

}  // namespace tx::codec

extern "C" {

void MatchFinderMt_Construct(CMatchFinderMt* p) {
  p->MatchFinder = nullptr;
  p->state = nullptr;
}

void MatchFinderMt_Destruct(CMatchFinderMt* p, ISzAlloc*) {
  delete static_cast<tx::codec::MatchThread*>(p->state);
  p->state = nullptr;
}

SRes MatchFinderMt_Create(CMatchFinderMt* p, UInt32 historySize, UInt32 keepAddBufferBefore,
                          UInt32 matchMaxLen, UInt32 keepAddBufferAfter, ISzAlloc* alloc) {
  MatchFinderMt_Destruct(p, alloc);
  auto* state = new (std::nothrow) tx::codec::MatchThread(p->MatchFinder, alloc);
  if (state == nullptr) return SZ_ERROR_MEM;
  p->state = state;
  return state->Create(historySize, keepAddBufferBefore, matchMaxLen, keepAddBufferAfter);
}

void MatchFinderMt_CreateVTable(CMatchFinderMt*, IMatchFinder* vTable) {
  vTable->Init = tx::codec::CallInit;
  vTable->GetIndexByte = tx::codec::CallIndexByte;
  vTable->GetNumAvailableBytes = tx::codec::CallAvailable;
  vTable->GetPointerToCurrentPos = tx::codec::CallCurrent;
  vTable->GetMatches = tx::codec::CallMatches;
  vTable->Skip = tx::codec::CallSkip;
}

void MatchFinderMt_ReleaseStream(CMatchFinderMt* p) {
  if (p->state != nullptr) static_cast<tx::codec::MatchThread*>(p->state)->Stop();
}

}  // extern "C"
