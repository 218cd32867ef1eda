// One-call coding of a whole buffer (archive headers, ZIP central directories).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "codec/lzma_encoder.h"
#include "codec/method.h"

namespace tx::codec {

// The largest block DecompressBlock produces.
inline constexpr size_t kMaxBlockSize = size_t{256} << 20;

struct BlockSettings {
  int level = 6;
  int memory_level = 8;
  LzmaSettings lzma;
};

// Compresses `in` into `out` (at most `capacity` bytes); `out_size` gets the length. Copy
// copies; Deflate raw at `level` with `memory_level`; BZip2 with block size `level`; LZMA
// with `lzma` (no end marker), its properties written to `properties`. kTooLarge when
// `capacity` is too small; kSetupFailed, kEndFailed, kNoMemory and kDamaged (the coder
// failed) as the coder reports.
Outcome CompressBlock(Method method, const BlockSettings& settings, const uint8_t* in, size_t size,
                      uint8_t* out, size_t& out_size, size_t capacity, uint8_t properties[5]);

// Decodes a whole block that must come to exactly `expected` bytes into `out`. `out` grows
// with what the stream really yields, so a size claim alone takes no memory; claims above
// kMaxBlockSize are kTooLarge. Not exactly one stream of that length is kDamaged (data
// after a Deflate or BZip2 end mark is ignored; LZMA must end exactly at the end of `in`).
// Set-up failures come as Init reports them.
Outcome DecompressBlock(Method method, const uint8_t* properties, size_t properties_size, const uint8_t* in,
                        size_t size, size_t expected, std::unique_ptr<uint8_t[]>& out);

}  // namespace tx::codec
