// One packed stream of a folder on its way to plain bytes: read in 64 KiB pieces, decrypted
// when its chain has AES, decompressed by its compressor. Several sources of one folder
// may read the same archive file in turn: each seeks to its own place.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/decoder.h"
#include "frame/status.h"
#include "platform/file.h"
#include "svz/svz_aes.h"
#include "svz/svz_header.h"

namespace tx::svz {

inline constexpr size_t kBlock = 65536;

// The status codes of a folder's coder steps carry the method in their high nibble.
inline uint8_t CoderStep(uint32_t method, uint8_t step) { return static_cast<uint8_t>(method << 4 | step); }

// Counts the packed bytes read by all sources of a folder, for its progress.
class PackedProgress {
 public:
  virtual ~PackedProgress() = default;
  // A nonzero status (Cancel) stops the work.
  virtual StatusCode Read(size_t bytes) = 0;
};

// Where a source's bytes lie and what each step of its chain yields.
struct SourcePlan {
  uint64_t offset = 0;  // in the archive file
  uint64_t packed_size = 0, coded_size = 0, decoded_size = 0;
};

class PackedSource {
 public:
  PackedSource() = default;
  PackedSource(const PackedSource&) = delete;
  PackedSource& operator=(const PackedSource&) = delete;
  ~PackedSource() { Close(); }

  // Sets up `coder`'s chain over `plan` with the two 64 KiB buffers given; `key` is the
  // AES key when the chain has AES. `filter` (with LZMA or LZMA2) is undone by the decoder.
  StatusCode Open(platform::File& archive, const SourcePlan& plan, const CoderRecord& coder, const uint8_t* key,
                  uint8_t* input, uint8_t* output, PackedProgress& progress,
                  codec::Filter filter = codec::Filter::kNone);
  // The next decoded piece; `size` 0 once the stream has yielded exactly its size.
  StatusCode Next(const uint8_t*& piece, size_t& size);
  // Ends the decoder; the code of a failure at its end.
  StatusCode Close();

 private:
  StatusCode Read();

  platform::File* archive_ = nullptr;
  PackedProgress* progress_ = nullptr;
  codec::Decoder decoder_;
  StreamCipher cipher_;
  uint8_t *input_ = nullptr, *output_ = nullptr;
  uint64_t position_ = 0, remaining_ = 0, coded_left_ = 0, produced_ = 0, decoded_size_ = 0;
  uint32_t method_ = kCopy;
  bool aes_ = false, open_ = false, fed_ = false;
};

}  // namespace tx::svz
