// Undoes a branch converter or Delta on plain bytes (behind Copy, Deflate or BZip2). liblzma
// has these filters only in front of LZMA or LZMA2, so the bytes go to its raw decoder as
// the uncompressed chunks of an LZMA2 stream.
#pragma once

#include <lzma.h>

#include <cstddef>
#include <cstdint>
#include <memory>

#include "codec/method.h"

namespace tx::codec {

// The liblzma filter that undoes `filter` into `entry`; Delta takes `delta_distance` (1 to
// 256) and keeps its options in `delta`, which must outlive `entry`. False for kNone or a
// distance out of range.
bool LzmaFilterOf(Filter filter, uint32_t delta_distance, lzma_options_delta& delta, lzma_filter& entry);

// One converter serves many streams, one after the other (Init ... Init); its buffers are
// kept from one to the next.
class FilterConverter {
 public:
  FilterConverter();
  ~FilterConverter();
  FilterConverter(const FilterConverter&) = delete;
  FilterConverter& operator=(const FilterConverter&) = delete;

  // Starts a stream undoing `filter`. kSetupFailed for kNone or a Delta distance out of range.
  Outcome Init(Filter filter, uint32_t delta_distance = 0);
  // Takes the next filtered piece, of any size, which must stay valid until Next has used it up.
  void Feed(const uint8_t* data, size_t size);
  // The next unfiltered piece, in the converter's own buffer and valid until the next call.
  // `size` 0: the fed bytes are used up (the filter may hold back a few of them until more
  // come), or, when `finishing` (nothing follows the fed bytes), the stream is complete.
  // The output has as many bytes as the input; anything else is kDamaged.
  Outcome Next(const uint8_t*& piece, size_t& size, bool finishing);
  // The whole stream has come out.
  bool ended() const { return ended_; }

 private:
  Outcome Run(const uint8_t* in, size_t in_size, size_t& consumed, size_t& made);

  lzma_stream xz_ = LZMA_STREAM_INIT;
  std::unique_ptr<uint8_t[]> out_;  // one piece of output
  const uint8_t* input_ = nullptr;  // fed bytes not yet framed
  size_t input_left_ = 0;
  uint8_t header_[3] = {};  // the head of the chunk under way, or the end mark
  size_t header_at_ = 0, header_size_ = 0;
  size_t chunk_left_ = 0;  // bytes of the chunk under way still to come from the input
  bool first_ = true;      // the first chunk resets the dictionary
  bool active_ = false, ended_ = false, closing_ = false;
  uint64_t taken_ = 0, given_ = 0;  // the filter keeps sizes: input and output bytes
};

}  // namespace tx::codec
