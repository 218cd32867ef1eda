// One zlib stream (with its wrapper) per block, reusing the coder's memory from block to
// block, so that packing and unpacking allocate nothing per block. Blocks are inflated by
// ISA-L where the build has it, else by zlib.
#pragma once

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <memory>

namespace tx::pea {

class BlockDeflater {
 public:
  BlockDeflater() = default;
  ~BlockDeflater();
  BlockDeflater(const BlockDeflater&) = delete;
  BlockDeflater& operator=(const BlockDeflater&) = delete;

  bool Init(int level);
  // Compresses `size` bytes into `out` of `room` bytes. Returns the compressed length, 0
  // when it does not fit the room (the block is then stored as it is), or -1 on a zlib error.
  long Compress(const uint8_t* in, size_t size, uint8_t* out, size_t room);

 private:
  z_stream stream_{};
  bool ready_ = false;
};

class BlockInflater {
 public:
  BlockInflater();
  ~BlockInflater();
  BlockInflater(const BlockInflater&) = delete;
  BlockInflater& operator=(const BlockInflater&) = delete;

  bool Init();
  // Inflates one complete stream of `size` bytes into `out` of `room` bytes. Returns the
  // produced length, or -1 when the data is not one complete stream that fits.
  long Inflate(const uint8_t* in, size_t size, uint8_t* out, size_t room);

 private:
  struct State;  // the inflating library's stream, made once by Init
  std::unique_ptr<State> state_;
};

}  // namespace tx::pea
