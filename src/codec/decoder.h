// Pull-model streaming decoding (Copy, raw Deflate, BZip2, LZMA, LZMA2, Zstandard, .xz and filters): the
// caller feeds input pieces and takes the output piece by piece.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "codec/method.h"

namespace tx::codec {

// The largest LZMA dictionary a stream may ask for.
inline constexpr uint64_t kMaxLzmaDictionary = uint64_t{1536} << 20;
// What liblzma may ask for one LZMA2 or filtered stream: that dictionary and room for the
// coder's tables.
inline constexpr uint64_t kMaxLzmaMemory = kMaxLzmaDictionary + (uint64_t{64} << 20);

// The largest Zstandard window (as a power of two) a frame may ask for: 1 GiB.
inline constexpr int kMaxZstdWindowLog = 30;

// One decoder serves many streams, one after the other (Init ... End). The LZMA
// dictionary follows the output the stream really yields, up to the smaller of the
// dictionary and the stream's size, and is kept for the next stream.
class Decoder {
 public:
  Decoder();
  ~Decoder();
  Decoder(const Decoder&) = delete;
  Decoder& operator=(const Decoder&) = delete;

  // Starts a stream. LZMA: `properties` are the five property bytes (lc/lp/pb, 32-bit LE
  // dictionary size) and `size` the exact output size; the stream has no end marker, but
  // one right at `size` is accepted. A dictionary above kMaxLzmaDictionary is kTooLarge,
  // bad properties kSetupFailed. The other methods ignore `properties` and `size`.
  // LZMA2: one property byte (the dictionary), `size` the exact output size; the stream
  // must end with its end mark there. A `filter` (with LZMA or LZMA2) undoes that filter
  // on the output; Delta takes `delta_distance` (1 to 256). LZMA2 and filtered streams go
  // through liblzma, whose memory need above kMaxLzmaMemory is kTooLarge.
  // Zstandard: `size` the exact output size; the stream is one or more frames (skippable
  // ones too) and ends where a frame ends with `size` bytes produced. A frame whose window
  // is above 2^kMaxZstdWindowLog is kTooLarge (from Next, which reads the frame headers).
  // XZ: `size` the exact output size; one or more .xz streams (and stream padding) that end
  // where the input ends, so only a finishing Next ends it. Bytes after them that are not
  // a stream are kDamaged; a stream whose memory need is above kMaxLzmaMemory is kTooLarge
  // (from Next).
  Outcome Init(Method method, const uint8_t* properties, size_t properties_size, uint64_t size,
               Filter filter = Filter::kNone, uint32_t delta_distance = 0);
  // Takes the next input piece, which must stay valid until Next has used it up.
  void Feed(const uint8_t* data, size_t size);
  // The next output piece of at most `room` bytes in `out` (Copy: the fed bytes themselves,
  // `out` unused). `size` 0: the fed input is used up, or the stream has ended.
  // `finishing`: no input follows, so a stream that cannot end is kDamaged. Decoding
  // errors, or no progress, are kDamaged.
  Outcome Next(uint8_t* out, size_t room, const uint8_t*& piece, size_t& size, bool finishing);
  // The stream has reached its end (always for Copy; LZMA: all `size` bytes produced).
  // Zstandard takes input after its end too, as frames yielding nothing.
  bool ended() const { return ended_; }
  // Fed bytes the coder has not taken; once the stream has ended they follow its end.
  size_t unused() const { return input_left_; }
  Method method() const { return method_; }
  // After a failed Next of LZMA, LZMA2, Zstandard or XZ: whether the stream ended on its own
  // short of `size` or yields more than `size`, so a caller can tell a wrong size from damage.
  enum class Mismatch : uint8_t { kNone, kShort, kBeyond };
  Mismatch mismatch() const { return mismatch_; }
  // Ends the stream; kEndFailed when the library reports a failure at its end.
  Outcome End();

 private:
  struct State;
  Outcome InitLzma(const uint8_t* properties, size_t properties_size, uint64_t size);
  Outcome NextLzma(uint8_t* out, size_t room, size_t& size, bool finishing);
  Outcome InitRaw(const uint8_t* properties, size_t properties_size, uint64_t size, Filter filter,
                  uint32_t delta_distance);
  Outcome NextLiblzma(uint8_t* out, size_t room, size_t& size, bool finishing);
  Outcome InitZstd(uint64_t size);
  Outcome NextZstd(uint8_t* out, size_t room, size_t& size, bool finishing);
  Outcome InitXz(uint64_t size);
  Outcome NextStream(uint8_t* out, size_t room, size_t& size, bool finishing);

  std::unique_ptr<State> state_;    // made by the first Init of a method other than Copy
  const uint8_t* input_ = nullptr;  // fed bytes not yet taken
  size_t input_left_ = 0;
  Method method_ = Method::kCopy;
  bool active_ = false, ended_ = false;
  bool raw_ = false;  // liblzma decodes this stream
  Mismatch mismatch_ = Mismatch::kNone;
};

}  // namespace tx::codec
