#include "pea/pea_pipeline.h"

#include <new>
#include <system_error>

namespace tx::pea {

BlockPipeline::~BlockPipeline() {
  if (!worker_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  work_.notify_one();
  worker_.join();
}

bool BlockPipeline::Start(int level, unsigned threads, size_t block_size) {
  if (worker_.joinable()) return false;
  compress_ = level != 0;
  block_size_ = block_size;
  // One slot being written, one being compressed by each thread, one being read.
  count_ = compress_ && threads > 1 ? kMaxSlots : 1;
  const size_t per_slot = compress_ ? 2 * block_size : block_size;
  memory_.reset(new (std::nothrow) uint8_t[count_ * per_slot]);
  if (!memory_) return false;
  for (size_t i = 0; i < count_; ++i) {
    slots_[i].data = memory_.get() + i * per_slot;
    slots_[i].packed = compress_ ? slots_[i].data + block_size : nullptr;
  }
  if (!compress_) return true;
  if (!own_.Init(level)) return false;
  if (count_ == 1) return true;
  if (!helper_.Init(level)) return false;
  try {
    worker_ = std::thread([this] { Work(); });
  } catch (const std::system_error&) {
    count_ = 1;  // the calling thread does all the work
  }
  return true;
}

BlockPipeline::Slot* BlockPipeline::Free() {
  return used_ == count_ ? nullptr : &slots_[(head_ + used_) % count_];
}

void BlockPipeline::Submit() {
  size_t index = (head_ + used_) % count_;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    states_[index] = compress_ ? State::kPending : State::kDone;
    ++used_;
  }
  if (compress_ && worker_.joinable()) work_.notify_one();
}

size_t BlockPipeline::ClaimLocked() {
  for (size_t k = 0; k < used_; ++k) {
    size_t index = (head_ + k) % count_;
    if (states_[index] == State::kPending) {
      states_[index] = State::kWorking;
      return index;
    }
  }
  return kMaxSlots;
}

void BlockPipeline::Compress(BlockDeflater& deflater, size_t index) {
  Slot& slot = slots_[index];
  slot.packed_size = deflater.Compress(slot.data, slot.size, slot.packed, block_size_);
}

BlockPipeline::Slot& BlockPipeline::Oldest() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (states_[head_] != State::kDone) {
    size_t index = ClaimLocked();
    if (index == kMaxSlots) {
      done_.wait(lock);
      continue;
    }
    lock.unlock();
    Compress(own_, index);
    lock.lock();
    states_[index] = State::kDone;
  }
  return slots_[head_];
}

void BlockPipeline::Release() {
  std::lock_guard<std::mutex> lock(mutex_);
  states_[head_] = State::kFree;
  head_ = (head_ + 1) % count_;
  --used_;
}

void BlockPipeline::Work() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    size_t index = kMaxSlots;
    work_.wait(lock, [&] { return stop_ || (index = ClaimLocked()) != kMaxSlots; });
    if (stop_) {
      // A claim made as the stop came in is simply dropped: nothing reads it any more.
      return;
    }
    lock.unlock();
    Compress(helper_, index);
    lock.lock();
    states_[index] = State::kDone;
    done_.notify_one();
  }
}

}  // namespace tx::pea
