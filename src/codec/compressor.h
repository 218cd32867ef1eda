// Push-model streaming compression (raw Deflate, BZip2): the caller hands in input blocks
// and drains output blocks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "codec/method.h"

namespace tx::codec {

// One compressor serves many streams. The Deflate state is set up by the first stream and
// reset for the next ones with the same level and memory level, so its memory is taken
// once; BZip2 has no reset and is set up and released per stream.
class Compressor {
 public:
  enum class Step {
    NeedInput,   // the input is consumed
    OutputFull,  // the output buffer is full: drain it and call again
    Done,        // finishing: the stream is complete
    Failed,
  };

  Compressor();
  ~Compressor();
  Compressor(const Compressor&) = delete;
  Compressor& operator=(const Compressor&) = delete;

  // Starts a stream: kDeflate (raw, `level` 1..9, zlib's `memory_level`, default strategy)
  // or kBzip2 (block size `level` in 100 kB units; `memory_level` unused). False when the
  // coder cannot be set up or the method is neither.
  bool Begin(Method method, int level, int memory_level);
  // Hands the next input block to the coder; it is consumed by Run.
  void SetInput(const uint8_t* data, size_t size);
  // Codes into `out` from `used` up to `capacity`, advancing `used`. With `finish` the
  // stream is completed (no input may follow).
  Step Run(uint8_t* out, size_t capacity, size_t& used, bool finish);
  // Ends the stream. False when the coder reports a failure at its end.
  bool End();

  // Codes `size` bytes at `in` as one piece of a raw Deflate stream cut into pieces: the
  // coder starts afresh, primed with the `history_size` bytes that precede the piece, and
  // ends on a byte boundary (a sync flush), or with the final block when `last`. Sets
  // `produced`; false when the coder fails or `capacity` is too small.
  bool DeflatePiece(int level, int memory_level, const uint8_t* history, size_t history_size,
                    const uint8_t* in, size_t size, bool last, uint8_t* out, size_t capacity,
                    size_t& produced);

 private:
  struct Streams;
  void ReleaseBzip2();

  std::unique_ptr<Streams> streams_;
  Method method_ = Method::kCopy;
  int deflate_level_ = 0;  // 0: the Deflate stream is not set up
  int deflate_memory_ = 0;
  bool bzip2_active_ = false;
};

}  // namespace tx::codec
