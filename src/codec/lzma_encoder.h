// LZMA encoding with the LZMA SDK's encoder, which pulls its input from a source and
// pushes its output into a sink.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/method.h"

namespace tx::codec {

struct LzmaSettings {
  int level = 5;
  uint32_t dictionary = 1u << 24;
  int lc = 3, lp = 0, pb = 2;
  int fast_bytes = 32;
  int binary_tree = 1;  // 0: hash chain
  int hash_bytes = 4;
  uint32_t match_cycles = 0;  // 0: derived from the fast bytes and the match finder
  // 2: the binary-tree match finder runs on a thread of its own (the bytes are the same).
  int threads = 1;
};

// Entry data at `level` 1..9 (clamped): hash chain and fast mode below level 5, binary
// tree from 5; 32 fast bytes below level 7, 64 from 7; 16 + fast bytes / 2 match-finder
// cycles, halved with the hash chain; lc 3, lp 0, pb 2. The dictionary is 2^d (d = 2 *
// level + 14 up to level 5, 25 for 6 and 7, 26 for 8 and 9), brought down to the smallest
// 2^i or 3 * 2^(i-1) (i from 12) that holds a smaller input.
LzmaSettings LzmaDataSettings(uint32_t level, uint64_t input_size);

// Archive headers: level 5, 273 fast bytes, binary tree with 2-byte hashing, and the
// smallest dictionary from 4 KiB (2^i or 3 * 2^(i-1)) that holds the header, at most 1 MiB.
LzmaSettings LzmaHeaderSettings(uint64_t header_size);

// The encoder pulls its input.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Fills up to `size` bytes; `size` gets what was read (0: end). False: read failure.
  virtual bool Read(uint8_t* buffer, size_t& size) = 0;
};

class ByteSink {
 public:
  virtual ~ByteSink() = default;
  virtual bool Write(const uint8_t* data, size_t size) = 0;  // false: write failure
};

class EncodeProgress {
 public:
  virtual ~EncodeProgress() = default;
  virtual bool Advance(uint64_t consumed) = 0;  // false cancels the encoding
};

// Writes the five property bytes into `properties` before it pulls any input, then
// encodes everything `source` yields into `sink`, without an end marker. The callbacks are
// called on the calling thread alone, whatever `settings.threads`; with no second thread to
// be had, the encoding runs on one. kReadFailed, kWriteFailed and kCancelled come from the
// callbacks; kNoMemory and kSetupFailed (settings out of range) from the encoder.
Outcome LzmaEncode(const LzmaSettings& settings, ByteSource& source, ByteSink& sink, EncodeProgress* progress,
                   uint8_t properties[5]);

}  // namespace tx::codec
