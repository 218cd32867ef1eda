#include "zip/zip_decompress.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

#include "zip/zip_records.h"

namespace tx::zip {

namespace {

// zlib and libbz2 count in 32-bit units; the pieces handed to them are 64 KiB or a
// central-directory block, which never exceeds that.
unsigned Units(size_t size) {
  return size > std::numeric_limits<unsigned>::max() ? std::numeric_limits<unsigned>::max()
                                                     : static_cast<unsigned>(size);
}

}  // namespace

StreamDecoder::~StreamDecoder() { End(); }

StatusCode StreamDecoder::Init(uint32_t method, uint8_t place) {
  End();
  method_ = method;
  place_ = place;
  ended_ = false;
  switch (method) {
    case kStore:
      base_ = 0x00;
      ended_ = true;
      return kOk;
    case kDeflate:
      base_ = 0x10;
      zlib_ = z_stream{};
      if (inflateInit2(&zlib_, -MAX_WBITS) != Z_OK) return ConditionCode(Cls::CoderInit, place, 0x11);
      break;
    case kBzip2:
      base_ = 0x20;
      bzip_ = bz_stream{};
      if (BZ2_bzDecompressInit(&bzip_, 0, 0) != BZ_OK) return ConditionCode(Cls::CoderInit, place, 0x21);
      break;
    default: return ConditionCode(Cls::UnknownMethod, place, 0x01);
  }
  ready_ = true;
  return kOk;
}

void StreamDecoder::Feed(const uint8_t* data, size_t size) {
  if (method_ == kDeflate) {
    zlib_.next_in = const_cast<Bytef*>(data);
    zlib_.avail_in = Units(size);
  } else if (method_ == kBzip2) {
    bzip_.next_in = reinterpret_cast<char*>(const_cast<uint8_t*>(data));
    bzip_.avail_in = Units(size);
  } else {
    pending_ = data;
    pending_size_ = size;
  }
}

StatusCode StreamDecoder::Next(uint8_t* out, size_t room, const uint8_t*& piece, size_t& size,
                               bool finishing) {
  piece = out;
  size = 0;
  if (method_ == kStore) {
    piece = pending_;
    size = pending_size_;
    pending_size_ = 0;
    return kOk;
  }
  uint8_t occurrence = static_cast<uint8_t>(base_ + (finishing ? 0x02 : 0x01));
  StatusCode failed = ConditionCode(Cls::CoderFailed, place_, occurrence);
  // Data after the end mark is not decoded; the caller finds it through unused().
  while (!ended_) {
    bool progress;
    if (method_ == kDeflate) {
      zlib_.next_out = out;
      zlib_.avail_out = Units(room);
      unsigned before_in = zlib_.avail_in;
      int rc = inflate(&zlib_, Z_NO_FLUSH);
      size = room - zlib_.avail_out;
      if (rc == Z_STREAM_END)
        ended_ = true;
      else if (rc != Z_OK && rc != Z_BUF_ERROR)
        return failed;  // Z_NEED_DICT counts as damage too
      progress = size > 0 || zlib_.avail_in != before_in;
      if (!progress && zlib_.avail_in > 0) return failed;
    } else {
      bzip_.next_out = reinterpret_cast<char*>(out);
      bzip_.avail_out = Units(room);
      unsigned before_in = bzip_.avail_in;
      int rc = BZ2_bzDecompress(&bzip_);
      size = room - bzip_.avail_out;
      if (rc == BZ_STREAM_END)
        ended_ = true;
      else if (rc != BZ_OK)
        return failed;
      progress = size > 0 || bzip_.avail_in != before_in;
      if (!progress && bzip_.avail_in > 0) return failed;
    }
    if (size > 0) return kOk;
    unsigned left = method_ == kDeflate ? zlib_.avail_in : bzip_.avail_in;
    if (left == 0 && !ended_) {
      // Input used up: wait for more, unless none will come and the coder is stuck.
      if (!finishing) return kOk;
      if (!progress) return failed;
    }
  }
  return kOk;
}

StatusCode StreamDecoder::End() {
  if (!ready_) return kOk;
  ready_ = false;
  if (method_ == kDeflate && inflateEnd(&zlib_) != Z_OK) return ConditionCode(Cls::CoderEnd, place_, 0x11);
  if (method_ == kBzip2 && BZ2_bzDecompressEnd(&bzip_) != BZ_OK)
    return ConditionCode(Cls::CoderEnd, place_, 0x21);
  return kOk;
}

size_t StreamDecoder::unused() const {
  if (method_ == kDeflate) return zlib_.avail_in;
  if (method_ == kBzip2) return bzip_.avail_in;
  return pending_size_;
}

BlockResult DecompressBlock(uint32_t method, const uint8_t* in, size_t size, size_t expected,
                            std::unique_ptr<uint8_t[]>& out) {
  if (expected > kMaxDecodedDirectory) return BlockResult::kTooLarge;
  if (size > std::numeric_limits<unsigned>::max() || (method != kDeflate && method != kBzip2))
    return BlockResult::kDamaged;
  StreamDecoder decoder;
  if (decoder.Init(method, 0) != kOk) return BlockResult::kDamaged;
  decoder.Feed(in, size);
  // One byte beyond the expected length shows a stream that is too long.
  const size_t limit = expected + 1;
  size_t capacity = 0, used = 0;
  while (!decoder.ended()) {
    if (used == capacity) {
      if (capacity == limit) return BlockResult::kDamaged;
      size_t grown = std::min(limit, std::max<size_t>(capacity * 2, 65536));
      std::unique_ptr<uint8_t[]> bigger(new (std::nothrow) uint8_t[grown]);
      if (bigger == nullptr) return BlockResult::kNoMemory;
      if (used > 0) std::memcpy(bigger.get(), out.get(), used);
      out = std::move(bigger);
      capacity = grown;
    }
    const uint8_t* piece;
    size_t produced;
    // Without an error the decoder hands out output or reaches the end mark.
    if (decoder.Next(out.get() + used, capacity - used, piece, produced, true) != kOk)
      return BlockResult::kDamaged;
    used += produced;
  }
  return used == expected ? BlockResult::kOk : BlockResult::kDamaged;
}

}  // namespace tx::zip
