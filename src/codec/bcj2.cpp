#include "codec/bcj2.h"

#include <algorithm>
#include <iterator>

namespace tx::codec {

namespace {

constexpr uint32_t kTop = 1u << 24;
constexpr int kProbBits = 11;
constexpr uint16_t kProbInit = 1u << (kProbBits - 1);
constexpr int kMoveBits = 5;

bool IsBranch(uint8_t previous, uint8_t b) { return (b & 0xFE) == 0xE8 || (previous == 0x0F && (b & 0xF0) == 0x80); }

}  // namespace

void Bcj2Decoder::Init(uint64_t size) {
  for (Piece& p : pieces_) p = Piece{};
  size_ = size;
  position_ = 0;
  range_ = code_ = 0;
  coder_started_ = false;
  previous_ = 0;
  std::fill(std::begin(probs_), std::end(probs_), kProbInit);
}

bool Bcj2Decoder::Refill(Inputs& inputs, int stream, Outcome& outcome) {
  Piece& p = pieces_[stream];
  if ((outcome = inputs.Pull(stream, p.data, p.size)) != Outcome::kOk) return false;
  if (p.size == 0) outcome = Outcome::kDamaged;
  return p.size != 0;
}

bool Bcj2Decoder::ReadByte(Inputs& inputs, int stream, uint8_t& byte, Outcome& outcome) {
  Piece& p = pieces_[stream];
  if (p.size == 0 && !Refill(inputs, stream, outcome)) return false;
  byte = *p.data++;
  --p.size;
  return true;
}

bool Bcj2Decoder::Bit(Inputs& inputs, uint16_t& prob, bool& bit, Outcome& outcome) {
  uint8_t b;
  if (!coder_started_) {
    // The coder's first byte is always zero; four more make the starting code.
    range_ = 0xFFFFFFFFu;
    for (int i = 0; i < 5; ++i) {
      if (!ReadByte(inputs, kRange, b, outcome)) return false;
      code_ = code_ << 8 | b;
    }
    coder_started_ = true;
  }
  const uint32_t bound = (range_ >> kProbBits) * prob;
  if (code_ < bound) {
    range_ = bound;
    prob = static_cast<uint16_t>(prob + (((1u << kProbBits) - prob) >> kMoveBits));
    bit = false;
  } else {
    range_ -= bound;
    code_ -= bound;
    prob = static_cast<uint16_t>(prob - (prob >> kMoveBits));
    bit = true;
  }
  if (range_ < kTop) {
    if (!ReadByte(inputs, kRange, b, outcome)) return false;
    range_ <<= 8;
    code_ = code_ << 8 | b;
  }
  return true;
}

Outcome Bcj2Decoder::Next(Inputs& inputs, uint8_t* out, size_t room, size_t& produced) {
  produced = 0;
  Outcome outcome = Outcome::kOk;
  // Each round copies plain bytes up to an opcode, then settles that opcode; a converted
  // one adds four bytes, so a round starts only with room for them.
  while (position_ < size_ && room - produced >= 5) {
    Piece& main = pieces_[kMain];
    if (main.size == 0 && !Refill(inputs, kMain, outcome)) return outcome;
    const size_t limit = static_cast<size_t>(std::min<uint64_t>({main.size, room - produced - 4, size_ - position_}));
    size_t n = 0;
    uint8_t b = 0;
    bool found = false;
    while (n < limit) {
      b = main.data[n];
      out[produced + n++] = b;
      if (IsBranch(previous_, b)) {
        found = true;
        break;
      }
      previous_ = b;
    }
    main.data += n, main.size -= n;
    produced += n;
    position_ += n;
    if (!found || position_ == size_) continue;
    uint16_t& prob = probs_[b == 0xE8 ? previous_ : b == 0xE9 ? 256 : 257];
    bool converted;
    if (!Bit(inputs, prob, converted, outcome)) return outcome;
    if (!converted) {
      previous_ = b;
      continue;
    }
    if (size_ - position_ < 4) return Outcome::kDamaged;
    const int stream = b == 0xE8 ? kCall : kJump;
    uint32_t target = 0;
    for (int i = 0; i < 4; ++i) {
      uint8_t t;
      if (!ReadByte(inputs, stream, t, outcome)) return outcome;
      target = target << 8 | t;
    }
    const uint32_t relative = target - static_cast<uint32_t>(position_ + 4);
    for (int i = 0; i < 4; ++i) out[produced++] = static_cast<uint8_t>(relative >> (8 * i));
    position_ += 4;
    previous_ = static_cast<uint8_t>(relative >> 24);
  }
  return Outcome::kOk;
}

Outcome Bcj2Decoder::Finish(Inputs& inputs) {
  for (int stream = kMain; stream <= kJump; ++stream) {
    Piece& p = pieces_[stream];
    if (p.size != 0) return Outcome::kDamaged;
    if (Outcome outcome = inputs.Pull(stream, p.data, p.size); outcome != Outcome::kOk) return outcome;
    if (p.size != 0) return Outcome::kDamaged;
  }
  return Outcome::kOk;
}

}  // namespace tx::codec
