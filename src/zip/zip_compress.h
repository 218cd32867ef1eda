// Compression for ZIP packing: the streaming coder of member data (raw Deflate or BZip2)
// and the one-call compressor of a central directory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "frame/status.h"

namespace tx::zip {

// One coder for every member of a call. The Deflate state is set up by the first member
// and reset for the next ones, so its memory is taken once per call; BZip2 has no reset
// and is set up and released per member.
class MemberCompressor {
 public:
  enum class Step {
    NeedInput,   // the input is consumed
    OutputFull,  // the output buffer is full: drain it and call again
    Done,        // finishing: the stream is complete
    Failed,
  };

  MemberCompressor();
  ~MemberCompressor();
  MemberCompressor(const MemberCompressor&) = delete;
  MemberCompressor& operator=(const MemberCompressor&) = delete;

  // Starts a member compressed with `method` (kDeflate or kBzip2) at `level` 1..9
  // (BZip2: the block size in 100 kB units). False when the coder cannot be set up.
  bool Begin(uint32_t method, uint32_t level);
  // Hands the next input block to the coder; it is consumed by Run.
  void SetInput(const uint8_t* data, size_t size);
  // Codes into `out` from `used` up to `capacity`, advancing `used`. With `finish` the
  // stream is completed (no input may follow).
  Step Run(uint8_t* out, size_t capacity, size_t& used, bool finish);
  // Ends the member. False when the coder reports a failure at its end.
  bool End();

 private:
  struct Streams;
  void ReleaseBzip2();

  std::unique_ptr<Streams> streams_;
  uint32_t method_ = 0;
  int deflate_level_ = 0;  // 0: the Deflate stream is not set up
  bool bzip2_active_ = false;
};

// One-call compression of `in` into `out` (at most `capacity` bytes); `out_size` gets the
// length. Deflate at `level` (6 for 0), BZip2 with the block size `level` (5 for 0); Store
// copies. Codes of place 0x1e.
StatusCode CompressBuffer(uint32_t method, uint32_t level, const uint8_t* in, size_t in_size, uint8_t* out,
                          size_t& out_size, size_t capacity);

}  // namespace tx::zip
