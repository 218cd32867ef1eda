// The RISC-V branch converter of the 7z format: the PC-relative targets of JAL (with rd x1
// or x5) and of AUIPC paired with an instruction that uses its result are made absolute
// when encoding, and relative again when decoding. Instructions are looked at every two
// bytes, since compressed instructions keep 32-bit ones only 2-byte aligned.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tx::codec {

class RiscvConverter {
 public:
  // The most bytes Convert leaves for the next call: an AUIPC pair is examined only whole.
  static constexpr size_t kMaxHeldBack = 7;

  explicit RiscvConverter(bool encoding = false) : encoding_(encoding) {}

  // Back to stream position 0 (a new folder).
  void Reset() { position_ = 0; }
  // Converts `data` in place; returns how many bytes at the front are final. The others
  // (at most kMaxHeldBack) must be presented again in front of the next bytes; at the end
  // of the stream they are passed on unconverted. Position runs across calls.
  size_t Convert(uint8_t* data, size_t size);

 private:
  bool encoding_;
  uint32_t position_ = 0;  // stream position of data[0]; addresses count modulo 2^32
};

}  // namespace tx::codec
