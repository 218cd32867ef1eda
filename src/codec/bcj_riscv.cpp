#include "codec/bcj_riscv.h"

namespace tx::codec {

namespace {

uint32_t LoadLe32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

void StoreLe32(uint8_t* p, uint32_t v) {
  for (int k = 0; k < 4; ++k) p[k] = static_cast<uint8_t>(v >> (8 * k));
}

// Absolute addresses are stored big-endian, which suits the compressor better: their high
// bytes, alike across calls to one function, come first.
uint32_t LoadBe32(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
}

void StoreBe32(uint8_t* p, uint32_t v) {
  for (int k = 0; k < 4; ++k) p[k] = static_cast<uint8_t>(v >> (24 - 8 * k));
}

// The 21-bit offset of a JAL (imm[20|10:1|11|19:12] in bits 31..12), and back.
uint32_t JalOffset(uint32_t word) {
  return (word >> 11 & 0x100000) | (word & 0xFF000) | (word >> 9 & 0x800) | (word >> 20 & 0x7FE);
}

uint32_t WithJalOffset(uint32_t word, uint32_t offset) {
  return (word & 0xFFF) | (offset & 0x100000) << 11 | (offset & 0xFF000) | (offset & 0x800) << 9 |
         (offset & 0x7FE) << 20;
}

// A converted JAL holds address bits 20..1 in bits 31..12, high bits in the lower bytes so
// that they lie next to the register byte.
uint32_t JalAddress(uint32_t word) {
  return (word >> 12 & 0xF) << 17 | (word >> 16 & 0xFF) << 9 | (word >> 24) << 1;
}

uint32_t WithJalAddress(uint32_t word, uint32_t address) {
  return (word & 0xFFF) | (address >> 17 & 0xF) << 12 | (address >> 9 & 0xFF) << 16 |
         (address >> 1 & 0xFF) << 24;
}

// Whether `next` is a 32-bit instruction whose rs1 is the rd of the AUIPC `auipc`.
bool UsesResult(uint32_t auipc, uint32_t next) {
  return (next & 3) == 3 && (next >> 15 & 0x1F) == (auipc >> 7 & 0x1F);
}

// Whether an AUIPC with rd x0 or x2 has the form of a converted pair: rd x2, the low bits
// of a 32-bit instruction in bits 13..12 and a register other than x0 and x2 in bits
// 31..27. Real ones of this form are disguised by the encoder, so the decoder can tell.
bool LooksConverted(uint32_t word) { return (word & 0x3FFF) == 0x3117 && (word >> 27 & 0x1D) != 0; }

}  // namespace

size_t RiscvConverter::Convert(uint8_t* data, size_t size) {
  if (size < 8) return 0;
  const size_t last = size - 8;  // every instruction is examined with the 8 bytes a pair takes
  size_t i = 0;
  for (; i <= last; i += 2) {
    uint8_t* p = data + i;
    const uint32_t pc = position_ + static_cast<uint32_t>(i);
    uint32_t word = LoadLe32(p);
    if (p[0] == 0xEF) {
      // JAL with an odd rd; only x1 and x5, the link registers, mark calls.
      if ((p[1] & 0x0D) != 0) continue;
      if (encoding_)
        word = WithJalAddress(word, JalOffset(word) + pc);
      else
        word = WithJalOffset(word, JalAddress(word) - pc);
      StoreLe32(p, word);
      i += 2;
      continue;
    }
    if ((p[0] & 0x7F) != 0x17) continue;
    uint32_t next = LoadLe32(p + 4);
    if ((word >> 7 & 0x1D) != 0) {
      // AUIPC with rd other than x0 and x2: a real pair (encoding) or a disguised AUIPC x2
      // (decoding) when the next instruction uses its result. Otherwise the bytes a pair
      // would take are passed over but for its last two, which may start an AUIPC.
      if (!UsesResult(word, next)) {
        i += 4;
        continue;
      }
      if (encoding_) {
        const uint32_t offset = (word & 0xFFFFF000) + (next >> 20) - (next >> 19 & 0x1000);
        StoreLe32(p, 0x117 | next << 12);
        StoreBe32(p + 4, offset + pc);
      } else {
        StoreLe32(p, 0x117 | next << 12);
        StoreLe32(p + 4, (word & 0xFFFFF000) | next >> 20);
      }
    } else {
      // AUIPC with rd x0 or x2: a converted pair (decoding) or one to disguise (encoding).
      if (!LooksConverted(word)) {
        i += 2;
        continue;
      }
      if (encoding_) {
        StoreLe32(p, 0x17 | (word >> 27) << 7 | (next & 0xFFFFF000));
        StoreLe32(p + 4, word >> 12 | next << 20);
      } else {
        const uint32_t offset = LoadBe32(p + 4) - pc;
        StoreLe32(p, 0x17 | (word >> 27) << 7 | ((offset + 0x800) & 0xFFFFF000));  // the low part is signed
        StoreLe32(p + 4, word >> 12 | offset << 20);
      }
    }
    i += 6;
  }
  position_ += static_cast<uint32_t>(i);
  return i;
}

}  // namespace tx::codec
