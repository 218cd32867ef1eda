#include "codec/bcj_x86.h"

namespace tx::codec {

namespace {

// The top byte of a 32-bit displacement that reaches near: the only ones converted.
bool IsNear(uint8_t top) { return top == 0x00 || top == 0xFF; }

// How far back the farthest opcode byte of a history lies (1..3).
int Farthest(uint32_t history) { return history >= 4 ? 3 : history >= 2 ? 2 : 1; }

uint32_t LoadLe32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

}  // namespace

void X86Converter::Reset() {
  position_ = 0;
  last_ = 0;
  history_ = 0;
}

size_t X86Converter::Convert(uint8_t* data, size_t size) {
  if (size < 5) return 0;
  const size_t end = size - 4;  // an opcode is examined only with its four operand bytes
  size_t i = 0;
  while (i < end) {
    if ((data[i] & 0xFE) != 0xE8) {
      ++i;
      continue;
    }
    const uint64_t at = position_ + i;
    const uint64_t gap = at - last_;
    // The opcode bytes left unconverted among the three before this one (bit 0: at - 1).
    const uint32_t recent = gap - 1 < 3 ? (history_ << (gap - 1)) & 7 : 0;
    last_ = at;
    uint8_t* operand = data + i + 1;
    // Two recent opcodes, or one whose operand would end in this operand with a near top
    // byte, make this one likely part of another instruction: it is left alone, as is
    // any operand that does not reach near.
    bool alone = recent != 0 && ((recent & (recent - 1)) != 0 || IsNear(operand[3 - Farthest(recent)]));
    if (alone || !IsNear(operand[3])) {
      history_ = ((recent << 1) | 1) & 7;
      ++i;
      continue;
    }
    const uint32_t next = static_cast<uint32_t>(at) + 5;  // the address the displacement counts from
    uint32_t value = LoadLe32(operand);
    uint32_t target;
    for (;;) {
      target = encoding_ ? value + next : value - next;
      if (recent == 0) break;
      // The recent opcode's operand must not come to end in a near top byte either, or
      // the decoder would take it for a converted one: such bits are flipped first.
      const int shift = 8 * Farthest(recent);
      if (!IsNear(static_cast<uint8_t>(target >> (24 - shift)))) break;
      value = target ^ ((uint32_t{1} << (32 - shift)) - 1);
    }
    operand[0] = static_cast<uint8_t>(target);
    operand[1] = static_cast<uint8_t>(target >> 8);
    operand[2] = static_cast<uint8_t>(target >> 16);
    operand[3] = (target >> 24) & 1 ? 0xFF : 0x00;  // bit 24 spread over the top byte
    history_ = recent;
    i += 5;
  }
  position_ += i;
  return i;
}

}  // namespace tx::codec
