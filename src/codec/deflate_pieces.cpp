#include "codec/deflate_pieces.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <system_error>

namespace tx::codec {

PieceDeflater::~PieceDeflater() {
  if (!worker_.joinable()) return;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    stop_ = true;
  }
  posted_.notify_one();
  worker_.join();
}

bool PieceDeflater::Allocate(unsigned threads) {
  constexpr size_t kInput = kHistory + kPiece;
  memory_.reset(new (std::nothrow) uint8_t[2 * (kInput + kPackedRoom)]);
  if (!memory_) return false;
  for (int i = 0; i < 2; ++i) {
    input_[i] = memory_.get() + i * kInput;
    packed_[i] = memory_.get() + 2 * kInput + i * kPackedRoom;
  }
  threads_ = threads;
  return true;
}

void PieceDeflater::Begin(int level, int memory_level) {
  level_ = level;
  memory_level_ = memory_level;
  history_size_ = 0;
}

bool PieceDeflater::Code(Compressor& coder, const Job& job, int i, size_t& produced) {
  return coder.DeflatePiece(level_, memory_level_, job.history, job.history_size, job.data, job.size,
                            job.last, packed_[i], kPackedRoom, produced);
}

bool PieceDeflater::StartWorker() {
  if (worker_.joinable()) return true;
  if (threads_ < 2) return false;
  try {
    worker_ = std::thread([this] { Work(); });
  } catch (const std::system_error&) {
    threads_ = 1;  // the calling thread codes both pieces
    return false;
  }
  return true;
}

void PieceDeflater::Work() {
  std::unique_lock<std::mutex> hold(mutex_);
  for (;;) {
    posted_.wait(hold, [this] { return pending_ || stop_; });
    if (stop_) return;
    const Job job = job_;
    hold.unlock();
    size_t produced = 0;
    const bool ok = Code(helper_, job, 1, produced);
    hold.lock();
    job_produced_ = produced;
    worker_ok_ = ok;
    pending_ = false;
    finished_.notify_one();
  }
}

bool PieceDeflater::CodePair(size_t first, size_t second, bool last, size_t& packed_first,
                             size_t& packed_second) {
  packed_first = packed_second = 0;
  uint8_t* data0 = Input(0);
  uint8_t* data1 = Input(1);
  const Job job0{data0 - history_size_, history_size_, data0, first, last && second == 0};
  Job job1{};
  const bool two = second != 0;
  if (two) {
    // The second piece's history is the end of the first, copied in front of it.
    const size_t history = std::min(first + history_size_, kHistory);
    std::memmove(data1 - history, data0 + first - history, history);
    job1 = Job{data1 - history, history, data1, second, last};
  }
  const bool helped = two && StartWorker();
  if (helped) {
    {
      std::lock_guard<std::mutex> hold(mutex_);
      job_ = job1;
      pending_ = true;
    }
    posted_.notify_one();
  }
  bool ok = Code(own_, job0, 0, packed_first);
  if (helped) {
    std::unique_lock<std::mutex> hold(mutex_);
    finished_.wait(hold, [this] { return !pending_; });
    ok = ok && worker_ok_;
    packed_second = job_produced_;
  } else if (two && ok) {
    ok = Code(own_, job1, 1, packed_second);
  }
  if (!ok || last) return ok;
  // The next pair's first piece is primed with the end of this pair's last.
  const uint8_t* end = two ? data1 + second : data0 + first;
  const size_t before =
      two ? std::min(second + job1.history_size, kHistory) : std::min(first + history_size_, kHistory);
  std::memmove(data0 - before, end - before, before);
  history_size_ = before;
  return true;
}

}  // namespace tx::codec
