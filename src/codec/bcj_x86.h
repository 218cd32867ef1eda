// The x86 branch converter (BCJ) of the 7z format: the relative targets of E8 (CALL) and
// E9 (JMP) instructions are made absolute when encoding, so that repeated calls to one
// function look alike to the compressor, and relative again when decoding.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tx::codec {

class X86Converter {
 public:
  explicit X86Converter(bool encoding) : encoding_(encoding) {}

  // Back to stream position 0 with no history (a new folder).
  void Reset();
  // Converts `data` in place; returns how many bytes at the front are final. The others
  // (at most 4) must be presented again in front of the next bytes; at the end of the
  // stream they are passed on unconverted. Position and history run across calls.
  size_t Convert(uint8_t* data, size_t size);

 private:
  bool encoding_;
  uint64_t position_ = 0;  // stream position of data[0]; targets count it modulo 2^32
  uint64_t last_ = 0;      // stream position of the last opcode byte examined
  uint32_t history_ = 0;   // opcode bytes left as they were at last_ (bit 0), last_ - 1, last_ - 2
};

}  // namespace tx::codec
