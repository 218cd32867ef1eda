// Decompression of ZIP data: a streaming decoder for member data (Store, raw Deflate,
// BZip2) that hands out its output piece by piece, and one-call decompression of a
// central-directory block.
#pragma once

#include <bzlib.h>
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <memory>

#include "frame/status.h"

namespace tx::zip {

// One member's decoder. Codes are composed in the caller's place: the occurrence is 0x11
// (Deflate) or 0x21 (BZip2) for set-up and decoding, 0x12/0x22 for the end of the stream.
class StreamDecoder {
 public:
  StreamDecoder() = default;
  ~StreamDecoder();
  StreamDecoder(const StreamDecoder&) = delete;
  StreamDecoder& operator=(const StreamDecoder&) = delete;

  // Methods 0, 8 and 12; any other gives UnknownMethod (occurrence 0x01).
  StatusCode Init(uint32_t method, uint8_t place);
  uint32_t method() const { return method_; }
  // The occurrence base of this method's codes: 0x00 Store, 0x10 Deflate, 0x20 BZip2.
  uint8_t base() const { return base_; }

  // Takes the next input piece; Store hands it back unchanged through Next.
  void Feed(const uint8_t* data, size_t size);
  // The next output piece of at most `room` bytes in `out` (for Store: the fed bytes
  // themselves, `out` unused). `size` 0 means the fed input is used up (or the stream has
  // ended). `finishing`: no input will follow, so a stream that cannot end is damaged.
  StatusCode Next(uint8_t* out, size_t room, const uint8_t*& piece, size_t& size, bool finishing);
  // True once the compressed stream has reached its end mark (always for Store).
  bool ended() const { return ended_; }
  // Fed bytes the coder has not taken; once the stream has ended they follow its end mark.
  size_t unused() const;
  // Releases the coder; a failing release is CoderEnd.
  StatusCode End();

 private:
  uint32_t method_ = 0;
  uint8_t place_ = 0, base_ = 0;
  bool ready_ = false, ended_ = false;
  const uint8_t* pending_ = nullptr;  // Store: input not yet handed out
  size_t pending_size_ = 0;
  z_stream zlib_{};
  bz_stream bzip_{};
};

// The most a decompressed central directory may take.
inline constexpr size_t kMaxDecodedDirectory = size_t{256} << 20;

enum class BlockResult { kOk, kDamaged, kTooLarge, kNoMemory };

// Decompresses a whole block with method 8 or 12 that must come to exactly `expected`
// bytes into `out`. The buffer grows in steps with the output the stream really yields, so
// a size claim alone takes no memory; claims above kMaxDecodedDirectory are kTooLarge.
// kDamaged when the data is not one stream of exactly that length.
BlockResult DecompressBlock(uint32_t method, const uint8_t* in, size_t size, size_t expected,
                            std::unique_ptr<uint8_t[]>& out);

}  // namespace tx::zip
