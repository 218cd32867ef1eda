#include "codec/filter_converter.h"

#include <algorithm>
#include <new>

namespace tx::codec {

namespace {

// The most data an uncompressed LZMA2 chunk holds (its size is stored less one in 16 bits).
constexpr size_t kChunk = size_t{1} << 16;
// The output comes in pieces of at most this size.
constexpr size_t kPiece = size_t{1} << 16;

// LZMA2 control bytes: an uncompressed chunk resetting the dictionary, one keeping it, the end.
constexpr uint8_t kFirstChunk = 0x01, kNextChunk = 0x02, kEndMark = 0x00;

}  // namespace

bool LzmaFilterOf(Filter filter, uint32_t delta_distance, lzma_options_delta& delta, lzma_filter& entry) {
  entry.options = nullptr;
  switch (filter) {
    case Filter::kX86: entry.id = LZMA_FILTER_X86; return true;
    case Filter::kPowerPc: entry.id = LZMA_FILTER_POWERPC; return true;
    case Filter::kIa64: entry.id = LZMA_FILTER_IA64; return true;
    case Filter::kArm: entry.id = LZMA_FILTER_ARM; return true;
    case Filter::kArmThumb: entry.id = LZMA_FILTER_ARMTHUMB; return true;
    case Filter::kSparc: entry.id = LZMA_FILTER_SPARC; return true;
    case Filter::kArm64: entry.id = LZMA_FILTER_ARM64; return true;
    case Filter::kDelta:
      if (delta_distance < LZMA_DELTA_DIST_MIN || delta_distance > LZMA_DELTA_DIST_MAX) return false;
      delta = lzma_options_delta{};
      delta.type = LZMA_DELTA_TYPE_BYTE;
      delta.dist = delta_distance;
      entry.id = LZMA_FILTER_DELTA;
      entry.options = &delta;
      return true;
    case Filter::kNone: break;
  }
  return false;
}

FilterConverter::FilterConverter() = default;

// liblzma keeps its coder between streams of the same filter; it goes only here.
FilterConverter::~FilterConverter() { lzma_end(&xz_); }

Outcome FilterConverter::Init(Filter filter, uint32_t delta_distance) {
  active_ = false;
  lzma_options_delta delta;
  lzma_options_lzma lzma{};
  lzma_filter chain[3];
  if (!LzmaFilterOf(filter, delta_distance, delta, chain[0])) return Outcome::kSetupFailed;
  // Uncompressed chunks never reach back, so the smallest dictionary does.
  lzma.dict_size = LZMA_DICT_SIZE_MIN;
  chain[1] = {LZMA_FILTER_LZMA2, &lzma};
  chain[2] = {LZMA_VLI_UNKNOWN, nullptr};
  if (!out_) {
    out_.reset(new (std::nothrow) uint8_t[kPiece]);
    if (!out_) return Outcome::kNoMemory;
  }
  const lzma_ret rc = lzma_raw_decoder(&xz_, chain);
  if (rc != LZMA_OK) return rc == LZMA_MEM_ERROR ? Outcome::kNoMemory : Outcome::kSetupFailed;
  input_ = nullptr;
  input_left_ = 0;
  header_at_ = header_size_ = chunk_left_ = 0;
  first_ = true;
  ended_ = closing_ = false;
  taken_ = given_ = 0;
  active_ = true;
  return Outcome::kOk;
}

void FilterConverter::Feed(const uint8_t* data, size_t size) {
  input_ = data;
  input_left_ = size;
}

Outcome FilterConverter::Next(const uint8_t*& piece, size_t& size, bool finishing) {
  piece = out_.get();
  size = 0;
  if (!active_) return Outcome::kSetupFailed;
  while (!ended_) {
    if (header_at_ == header_size_ && chunk_left_ == 0) {
      if (input_left_ > 0) {
        chunk_left_ = std::min(input_left_, kChunk);
        header_[0] = first_ ? kFirstChunk : kNextChunk;
        header_[1] = static_cast<uint8_t>((chunk_left_ - 1) >> 8);
        header_[2] = static_cast<uint8_t>(chunk_left_ - 1);
        header_at_ = 0;
        header_size_ = 3;
        first_ = false;
      } else if (finishing && !closing_) {
        header_[0] = kEndMark;
        header_at_ = 0;
        header_size_ = 1;
        closing_ = true;
      }
    }
    const bool in_header = header_at_ < header_size_;
    const uint8_t* in = in_header ? header_ + header_at_ : input_;
    const size_t offered = in_header ? header_size_ - header_at_ : chunk_left_;
    xz_.next_in = in;
    xz_.avail_in = offered;
    xz_.next_out = out_.get();
    xz_.avail_out = kPiece;
    // Called even without input: output the last call had no room for may be waiting.
    const lzma_ret rc = lzma_code(&xz_, LZMA_RUN);
    const size_t consumed = offered - xz_.avail_in;
    if (in_header) {
      header_at_ += consumed;
    } else {
      input_ += consumed;
      input_left_ -= consumed;
      chunk_left_ -= consumed;
      taken_ += consumed;
    }
    size = kPiece - xz_.avail_out;
    given_ += size;
    if (rc == LZMA_STREAM_END) {
      if (!closing_ || header_at_ != header_size_ || given_ != taken_) return Outcome::kDamaged;
      ended_ = true;
    } else if (rc != LZMA_OK && rc != LZMA_BUF_ERROR) {
      return Outcome::kDamaged;
    }
    if (given_ > taken_) return Outcome::kDamaged;
    if (size > 0 || ended_) return Outcome::kOk;
    if (offered == 0) return finishing ? Outcome::kDamaged : Outcome::kOk;
    if (consumed == 0) return Outcome::kDamaged;
  }
  return Outcome::kOk;
}

}  // namespace tx::codec
