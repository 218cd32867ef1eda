// Compressing the blocks of a PEA archive on two cores. Blocks are read, checked, encrypted
// and written in order by the calling thread; their compression (one independent zlib
// stream per block) is shared between the calling thread and one worker. Each block gives
// the same bytes whichever thread compresses it, so archives do not depend on the count.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "pea/pea_zlib.h"

namespace tx::pea {

class BlockPipeline {
 public:
  // A block between reading and writing: `data` holds its `size` bytes, `packed` its
  // compressed form of `packed_size` bytes (0: does not fit, -1: the coder failed).
  struct Slot {
    uint8_t* data = nullptr;
    uint8_t* packed = nullptr;
    size_t size = 0;
    long packed_size = 0;
  };

  BlockPipeline() = default;
  ~BlockPipeline();  // stops and joins the worker
  BlockPipeline(const BlockPipeline&) = delete;
  BlockPipeline& operator=(const BlockPipeline&) = delete;

  // Allocates the buffers of `threads` (1 or 2) coders for blocks of `block_size` bytes at
  // zlib `level` (0: blocks pass uncompressed) and starts the worker. False when the memory
  // or a coder cannot be had; a worker that cannot start leaves the call on one thread.
  bool Start(int level, unsigned threads, size_t block_size);

  // A free slot to read the next block into, or null when all slots are taken.
  Slot* Free();
  // Hands the slot last returned by Free() over to compression.
  void Submit();
  // Whether blocks are between Submit() and Release().
  bool Busy() const { return used_ != 0; }
  // The oldest block, compressed (helping with compression while it waits).
  Slot& Oldest();
  // Gives the oldest block's slot back once it is written.
  void Release();

 private:
  enum class State : uint8_t { kFree, kPending, kWorking, kDone };
  static constexpr size_t kMaxSlots = 4;

  void Work();
  // Claims the oldest pending slot under the lock; kMaxSlots when there is none.
  size_t ClaimLocked();
  void Compress(BlockDeflater& deflater, size_t index);

  std::unique_ptr<uint8_t[]> memory_;
  Slot slots_[kMaxSlots];
  State states_[kMaxSlots] = {};
  size_t count_ = 1, head_ = 0, used_ = 0;
  size_t block_size_ = 0;
  bool compress_ = false, stop_ = false;
  BlockDeflater own_, helper_;
  std::mutex mutex_;
  std::condition_variable work_, done_;
  std::thread worker_;
};

}  // namespace tx::pea
