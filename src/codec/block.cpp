#include "codec/block.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "codec/compressor.h"
#include "codec/decoder.h"

namespace tx::codec {

namespace {

// The whole input block, handed to the encoder as it asks.
class BlockSource : public ByteSource {
 public:
  BlockSource(const uint8_t* data, size_t size) : data_(data), left_(size) {}
  bool Read(uint8_t* buffer, size_t& size) override {
    size = std::min(size, left_);
    if (size != 0) std::memcpy(buffer, data_, size);
    data_ += size;
    left_ -= size;
    return true;
  }

 private:
  const uint8_t* data_;
  size_t left_;
};

// The output block; writing past its capacity fails.
class BlockSink : public ByteSink {
 public:
  BlockSink(uint8_t* data, size_t capacity) : data_(data), capacity_(capacity) {}
  bool Write(const uint8_t* data, size_t size) override {
    if (size > capacity_ - used_) return false;
    std::memcpy(data_ + used_, data, size);
    used_ += size;
    return true;
  }
  size_t used() const { return used_; }

 private:
  uint8_t* data_;
  size_t capacity_, used_ = 0;
};

Outcome CompressStream(Method method, const BlockSettings& settings, const uint8_t* in, size_t size,
                       uint8_t* out, size_t& out_size, size_t capacity) {
  Compressor coder;
  if (!coder.Begin(method, settings.level, settings.memory_level)) return Outcome::kSetupFailed;
  coder.SetInput(in, size);
  size_t used = 0;
  Compressor::Step step = coder.Run(out, capacity, used, false);
  if (step == Compressor::Step::NeedInput) step = coder.Run(out, capacity, used, true);
  if (step == Compressor::Step::Failed) return Outcome::kDamaged;
  if (step != Compressor::Step::Done) return Outcome::kTooLarge;
  if (!coder.End()) return Outcome::kEndFailed;
  out_size = used;
  return Outcome::kOk;
}

}  // namespace

Outcome CompressBlock(Method method, const BlockSettings& settings, const uint8_t* in, size_t size,
                      uint8_t* out, size_t& out_size, size_t capacity, uint8_t properties[5]) {
  out_size = 0;
  switch (method) {
    case Method::kCopy:
      if (size > capacity) return Outcome::kTooLarge;
      if (size != 0) std::memmove(out, in, size);
      out_size = size;
      return Outcome::kOk;
    case Method::kDeflate:
    case Method::kBzip2: return CompressStream(method, settings, in, size, out, out_size, capacity);
    case Method::kLzma: {
      BlockSource source(in, size);
      BlockSink sink(out, capacity);
      Outcome outcome = LzmaEncode(settings.lzma, source, sink, nullptr, properties);
      if (outcome == Outcome::kWriteFailed) return Outcome::kTooLarge;
      if (outcome == Outcome::kOk) out_size = sink.used();
      return outcome;
    }
    case Method::kLzma2:
    case Method::kZstd:
    case Method::kXz: break;  // decoded only
  }
  return Outcome::kSetupFailed;
}

Outcome DecompressBlock(Method method, const uint8_t* properties, size_t properties_size, const uint8_t* in,
                        size_t size, size_t expected, std::unique_ptr<uint8_t[]>& out) {
  if (expected > kMaxBlockSize) return Outcome::kTooLarge;
  if (method == Method::kCopy) {
    if (size != expected) return Outcome::kDamaged;
    out.reset(new (std::nothrow) uint8_t[size == 0 ? 1 : size]);
    if (out == nullptr) return Outcome::kNoMemory;
    if (size != 0) std::memcpy(out.get(), in, size);
    return Outcome::kOk;
  }
  Decoder decoder;
  if (Outcome outcome = decoder.Init(method, properties, properties_size, expected); outcome != Outcome::kOk)
    return outcome;
  decoder.Feed(in, size);
  // One byte beyond the expected length shows a stream that is too long.
  const size_t limit = expected + 1;
  size_t capacity = 0, used = 0;
  while (!decoder.ended()) {
    if (used == capacity) {
      if (capacity == limit) return Outcome::kDamaged;
      size_t grown = std::min(limit, std::max<size_t>(capacity * 2, 65536));
      std::unique_ptr<uint8_t[]> bigger(new (std::nothrow) uint8_t[grown]);
      if (bigger == nullptr) return Outcome::kNoMemory;
      if (used > 0) std::memcpy(bigger.get(), out.get(), used);
      out = std::move(bigger);
      capacity = grown;
    }
    const uint8_t* piece;
    size_t produced;
    // Without an error the decoder hands out output or reaches the end of the stream.
    if (decoder.Next(out.get() + used, capacity - used, piece, produced, true) != Outcome::kOk ||
        (produced == 0 && !decoder.ended()))
      return Outcome::kDamaged;
    used += produced;
  }
  if (used != expected) return Outcome::kDamaged;
  if ((method == Method::kLzma || method == Method::kLzma2) && decoder.unused() != 0)
    return Outcome::kDamaged;
  return Outcome::kOk;
}

}  // namespace tx::codec
