// Raw Deflate of large inputs on one or two threads. The input is cut every kPiece bytes;
// each piece is coded on its own, primed with the 32 KiB before it, and all but the last
// end on a byte boundary, so the pieces join into one raw Deflate stream. Where the cuts
// fall depends only on the input, so the stream's bytes do not depend on which thread
// coded which piece, nor on how many threads there were.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "codec/compressor.h"

namespace tx::codec {

class PieceDeflater {
 public:
  static constexpr size_t kPiece = size_t{1} << 20;
  static constexpr size_t kHistory = 32768;
  // Room for a coded piece: zlib's bound for any memory level, and the flush.
  static constexpr size_t kPackedRoom = kPiece + kPiece / 8 + kPiece / 64 + 64;

  PieceDeflater() = default;
  ~PieceDeflater();  // stops and joins the worker
  PieceDeflater(const PieceDeflater&) = delete;
  PieceDeflater& operator=(const PieceDeflater&) = delete;

  // Takes the buffers of two pieces. With `threads` > 1 the second piece of each pair is
  // coded by a worker, started when first needed; a worker that cannot start leaves the
  // work to the calling thread. False when the memory cannot be had.
  bool Allocate(unsigned threads);

  // Where the next pair's pieces are read (kPiece bytes each), and where their coded bytes
  // are (kPackedRoom each). Input(0) and Packed(0) also serve a caller as plain windows.
  uint8_t* Input(int i) { return input_[i] + kHistory; }
  uint8_t* Packed(int i) { return packed_[i]; }

  // Starts a stream at zlib `level` and `memory_level`.
  void Begin(int level, int memory_level);
  // Codes the next pair: `first` bytes at Input(0) and `second` at Input(1) (0: none). All
  // pieces but the stream's last are kPiece bytes; `last` says the pair ends the stream.
  // Sets the coded sizes; false when a coder fails.
  bool CodePair(size_t first, size_t second, bool last, size_t& packed_first, size_t& packed_second);

 private:
  struct Job {
    const uint8_t* history;
    size_t history_size;
    const uint8_t* data;
    size_t size;
    bool last;
  };

  bool Code(Compressor& coder, const Job& job, int i, size_t& produced);
  bool StartWorker();
  void Work();

  std::unique_ptr<uint8_t[]> memory_;
  uint8_t* input_[2] = {};
  uint8_t* packed_[2] = {};
  int level_ = 6, memory_level_ = 8;
  size_t history_size_ = 0;  // the history before the next pair's first piece
  unsigned threads_ = 1;
  Compressor own_, helper_;

  // The worker's one job at a time.
  std::mutex mutex_;
  std::condition_variable posted_, finished_;
  bool pending_ = false, stop_ = false, worker_ok_ = false;
  Job job_{};
  size_t job_produced_ = 0;
  std::thread worker_;
};

}  // namespace tx::codec
