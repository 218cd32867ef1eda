// The decoding side of BCJ2, the x86 branch converter with four streams: the main stream
// holds the code with the targets of converted CALL (E8), JMP (E9) and Jcc (0F 8x)
// instructions taken out; the call and jump streams hold those targets, absolute and
// big-endian; a range-coded stream says, per opcode, whether it was converted.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/method.h"

namespace tx::codec {

class Bcj2Decoder {
 public:
  enum Stream : int { kMain = 0, kCall = 1, kJump = 2, kRange = 3 };

  // Where the four input streams come from, piece by piece.
  class Inputs {
   public:
    virtual ~Inputs() = default;
    // The next piece of `stream`; `size` 0 at its end. A failure ends the decoding with
    // the outcome given (the caller keeps its own reason).
    virtual Outcome Pull(int stream, const uint8_t*& data, size_t& size) = 0;
  };

  // Starts a stream that yields exactly `size` bytes.
  void Init(uint64_t size);
  // The next output piece into `out` (`room` >= 8): `produced` 0 once all `size` bytes are
  // out. Inputs that end early, or a target that would run past `size`, are kDamaged.
  Outcome Next(Inputs& inputs, uint8_t* out, size_t room, size_t& produced);
  // After the last byte: the main, call and jump streams must be used up.
  Outcome Finish(Inputs& inputs);

 private:
  struct Piece {
    const uint8_t* data = nullptr;
    size_t size = 0;
  };
  bool Refill(Inputs& inputs, int stream, Outcome& outcome);
  bool ReadByte(Inputs& inputs, int stream, uint8_t& byte, Outcome& outcome);
  bool Bit(Inputs& inputs, uint16_t& prob, bool& bit, Outcome& outcome);

  Piece pieces_[4];
  uint64_t size_ = 0, position_ = 0;
  uint32_t range_ = 0, code_ = 0;
  bool coder_started_ = false;
  uint8_t previous_ = 0;
  uint16_t probs_[258] = {};  // E8 by the byte before it, then E9, then Jcc
};

}  // namespace tx::codec
