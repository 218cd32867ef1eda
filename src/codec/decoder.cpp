#include "codec/decoder.h"

#include <bzlib.h>
#ifdef TX_HAVE_ISAL
#include <isa-l/igzip_lib.h>
#endif
#include <lzma.h>
#include <zlib.h>
#include <zstd.h>
#include <zstd_errors.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "codec/filter_converter.h"
#include "codec/lzma_sdk.h"
#include "codec/units.h"

namespace tx::codec {

namespace {

// The LZMA dictionary buffer starts at this size (or the stream's smaller need) and
// doubles while the output fills it.
constexpr size_t kFirstDictionary = size_t{1} << 16;
// The SDK's own lower bound for a dictionary.
constexpr uint64_t kLeastDictionary = 4096;

}  // namespace

struct Decoder::State {
#ifdef TX_HAVE_ISAL
  inflate_state isal{};  // Deflate: ISA-L inflates several times faster than zlib
#else
  z_stream zlib{};
#endif
  bz_stream bzip{};
  CLzmaDec lzma{};
  lzma_stream xz = LZMA_STREAM_INIT;
  ZSTD_DCtx* zstd = nullptr;  // made by the first Zstandard stream, kept for the next ones
  bool frame_ended = false;   // Zstandard: the last frame is complete
  // LZMA: the dictionary buffer (malloc'd), what the current stream lets it grow to, and
  // the output promised and produced.
  uint8_t* dictionary = nullptr;
  size_t capacity = 0, target = 0;
  uint64_t size = 0, produced = 0;

  State() { LzmaDec_Construct(&lzma); }
  ~State() {
    LzmaDec_FreeProbs(&lzma, LzmaAllocator());
    std::free(dictionary);
    ZSTD_freeDCtx(zstd);
  }

  // Until the buffer has reached its target it holds the whole output so far and never
  // wraps, so it can move: the decoder is pointed at the new place.
  bool Grow() {
    size_t grown = std::min(target, std::max(capacity * 2, kFirstDictionary));
    void* bigger = std::realloc(dictionary, grown);
    if (bigger == nullptr) return false;
    dictionary = static_cast<uint8_t*>(bigger);
    capacity = grown;
    lzma.dic = dictionary;
    lzma.dicBufSize = capacity;
    return true;
  }
};

Decoder::Decoder() = default;

Decoder::~Decoder() { End(); }

Outcome Decoder::Init(Method method, const uint8_t* properties, size_t properties_size, uint64_t size,
                      Filter filter, uint32_t delta_distance) {
  End();
  method_ = method;
  ended_ = false;
  input_ = nullptr;
  input_left_ = 0;
  mismatch_ = Mismatch::kNone;
  if (method == Method::kCopy) {
    ended_ = true;  // a copy has no end of its own
    return Outcome::kOk;
  }
  if (!state_) {
    state_.reset(new (std::nothrow) State);
    if (!state_) return Outcome::kNoMemory;
  }
  State& s = *state_;
  switch (method) {
    case Method::kDeflate:
#ifdef TX_HAVE_ISAL
      isal_inflate_init(&s.isal);
      s.isal.crc_flag = ISAL_DEFLATE;  // a raw stream, no checksum of its own
      s.isal.hist_bits = 0;            // the full 32 KiB window
#else
      s.zlib = z_stream{};
      if (inflateInit2(&s.zlib, -MAX_WBITS) != Z_OK) return Outcome::kSetupFailed;
#endif
      break;
    case Method::kBzip2:
      s.bzip = bz_stream{};
      if (BZ2_bzDecompressInit(&s.bzip, 0, 0) != BZ_OK) return Outcome::kSetupFailed;
      break;
    case Method::kLzma:
    case Method::kLzma2: {
      Outcome outcome = method == Method::kLzma && filter == Filter::kNone
                            ? InitLzma(properties, properties_size, size)
                            : InitRaw(properties, properties_size, size, filter, delta_distance);
      if (outcome != Outcome::kOk) return outcome;
      break;
    }
    case Method::kZstd:
      if (Outcome outcome = InitZstd(size); outcome != Outcome::kOk) return outcome;
      break;
    case Method::kXz:
      if (Outcome outcome = InitXz(size); outcome != Outcome::kOk) return outcome;
      break;
    default: return Outcome::kSetupFailed;
  }
  active_ = true;
  return Outcome::kOk;
}

Outcome Decoder::InitLzma(const uint8_t* properties, size_t properties_size, uint64_t size) {
  State& s = *state_;
  CLzmaProps props;
  if (properties == nullptr || properties_size < LZMA_PROPS_SIZE ||
      LzmaProps_Decode(&props, properties, LZMA_PROPS_SIZE) != SZ_OK)
    return Outcome::kSetupFailed;
  if (props.dicSize > kMaxLzmaDictionary) return Outcome::kTooLarge;
  SRes result = LzmaDec_AllocateProbs(&s.lzma, properties, LZMA_PROPS_SIZE, LzmaAllocator());
  if (result != SZ_OK) return result == SZ_ERROR_MEM ? Outcome::kNoMemory : Outcome::kSetupFailed;
  // The output never reaches back further than the dictionary, nor beyond its own start.
  s.target = static_cast<size_t>(std::max(std::min<uint64_t>(props.dicSize, size), kLeastDictionary));
  s.size = size;
  s.produced = 0;
  LzmaDec_Init(&s.lzma);
  if (s.capacity == 0 && !s.Grow()) return Outcome::kNoMemory;
  s.lzma.dic = s.dictionary;
  s.lzma.dicBufSize = s.capacity;
  s.lzma.dicPos = 0;
  return Outcome::kOk;
}

Outcome Decoder::InitRaw(const uint8_t* properties, size_t properties_size, uint64_t size, Filter filter,
                         uint32_t delta_distance) {
  State& s = *state_;
  lzma_options_lzma lzma{};
  lzma_options_delta delta{};
  lzma_filter chain[3];
  size_t n = 0;
  if (filter != Filter::kNone) {
    if (!LzmaFilterOf(filter, delta_distance, delta, chain[n])) return Outcome::kSetupFailed;
    ++n;
  }
  uint64_t dictionary;
  if (method_ == Method::kLzma2) {
    if (properties == nullptr || properties_size != 1 || properties[0] > 40) return Outcome::kSetupFailed;
    const uint8_t b = properties[0];
    dictionary = b == 40 ? 0xFFFFFFFFu : uint64_t{2u | (b & 1u)} << (b / 2 + 11);
    chain[n].id = LZMA_FILTER_LZMA2;
  } else {
    CLzmaProps props;
    if (properties == nullptr || properties_size < LZMA_PROPS_SIZE ||
        LzmaProps_Decode(&props, properties, LZMA_PROPS_SIZE) != SZ_OK)
      return Outcome::kSetupFailed;
    lzma.lc = props.lc;
    lzma.lp = props.lp;
    lzma.pb = props.pb;
    dictionary = props.dicSize;
    // The size is known, so the stream needs no end mark but may carry one.
    chain[n].id = LZMA_FILTER_LZMA1EXT;
    lzma.ext_flags = LZMA_LZMA1EXT_ALLOW_EOPM;
    lzma.ext_size_low = static_cast<uint32_t>(size);
    lzma.ext_size_high = static_cast<uint32_t>(size >> 32);
  }
  chain[n++].options = &lzma;
  chain[n].id = LZMA_VLI_UNKNOWN;
  // The stream's own demand decides, whatever its size: a hostile dictionary is refused
  // before anything is allocated.
  lzma.dict_size = static_cast<uint32_t>(std::max(dictionary, kLeastDictionary));
  const uint64_t need = lzma_raw_decoder_memusage(chain);
  if (need == UINT64_MAX) return Outcome::kSetupFailed;
  if (need > kMaxLzmaMemory) return Outcome::kTooLarge;
  // The output never reaches back further than its own start.
  lzma.dict_size = static_cast<uint32_t>(std::max(std::min(dictionary, size), kLeastDictionary));
  s.xz = LZMA_STREAM_INIT;
  const lzma_ret rc = lzma_raw_decoder(&s.xz, chain);
  if (rc != LZMA_OK) {
    lzma_end(&s.xz);
    return rc == LZMA_MEM_ERROR ? Outcome::kNoMemory : Outcome::kSetupFailed;
  }
  s.size = size;
  s.produced = 0;
  raw_ = true;
  return Outcome::kOk;
}

Outcome Decoder::InitZstd(uint64_t size) {
  State& s = *state_;
  if (s.zstd == nullptr) {
    s.zstd = ZSTD_createDCtx();
    if (s.zstd == nullptr) return Outcome::kNoMemory;
    // A frame asking for a larger window is refused before its window is allocated.
    if (ZSTD_isError(ZSTD_DCtx_setParameter(s.zstd, ZSTD_d_windowLogMax, kMaxZstdWindowLog))) {
      ZSTD_freeDCtx(s.zstd);
      s.zstd = nullptr;
      return Outcome::kSetupFailed;
    }
  }
  // Keeps the parameters and the buffers of earlier streams.
  if (ZSTD_isError(ZSTD_DCtx_reset(s.zstd, ZSTD_reset_session_only))) return Outcome::kSetupFailed;
  s.size = size;
  s.produced = 0;
  s.frame_ended = false;
  return Outcome::kOk;
}

Outcome Decoder::InitXz(uint64_t size) {
  State& s = *state_;
  s.xz = LZMA_STREAM_INIT;
  // The limit is checked against each stream's header before its dictionary is allocated.
  const lzma_ret rc = lzma_stream_decoder(&s.xz, kMaxLzmaMemory, LZMA_CONCATENATED);
  if (rc != LZMA_OK) {
    lzma_end(&s.xz);
    return rc == LZMA_MEM_ERROR ? Outcome::kNoMemory : Outcome::kSetupFailed;
  }
  s.size = size;
  s.produced = 0;
  return Outcome::kOk;
}

void Decoder::Feed(const uint8_t* data, size_t size) {
  input_ = data;
  input_left_ = size;
}

Outcome Decoder::Next(uint8_t* out, size_t room, const uint8_t*& piece, size_t& size, bool finishing) {
  piece = out;
  size = 0;
  if (method_ == Method::kCopy) {
    piece = input_;
    size = std::min(room, input_left_);
    input_ += size;
    input_left_ -= size;
    return Outcome::kOk;
  }
  if (!active_) return Outcome::kSetupFailed;
  if (raw_ || method_ == Method::kXz) return NextLiblzma(out, room, size, finishing);
  if (method_ == Method::kZstd) return NextZstd(out, room, size, finishing);
  return method_ == Method::kLzma ? NextLzma(out, room, size, finishing)
                                  : NextStream(out, room, size, finishing);
}

Outcome Decoder::NextStream(uint8_t* out, size_t room, size_t& size, bool finishing) {
  State& s = *state_;
  // Data after the end mark is not decoded; the caller finds it through unused().
  while (!ended_) {
    unsigned in = Units(input_left_), space = Units(room);
    unsigned in_left, out_left;
    bool end, fault;
    size_t held = 0;  // bytes past the end that the bit reader had already taken
    if (method_ == Method::kDeflate) {
#ifdef TX_HAVE_ISAL
      s.isal.next_in = const_cast<uint8_t*>(input_);
      s.isal.avail_in = in;
      s.isal.next_out = out;
      s.isal.avail_out = space;
      int rc = isal_inflate(&s.isal);
      end = s.isal.block_state == ISAL_BLOCK_FINISH;
      fault = rc < 0;
      in_left = s.isal.avail_in;
      out_left = s.isal.avail_out;
      if (end) held = s.isal.read_in_length / 8;
#else
      s.zlib.next_in = const_cast<Bytef*>(input_);
      s.zlib.avail_in = in;
      s.zlib.next_out = out;
      s.zlib.avail_out = space;
      int rc = inflate(&s.zlib, Z_NO_FLUSH);
      end = rc == Z_STREAM_END;
      fault = !end && rc != Z_OK && rc != Z_BUF_ERROR;  // Z_NEED_DICT counts as damage too
      in_left = s.zlib.avail_in;
      out_left = s.zlib.avail_out;
#endif
    } else {
      s.bzip.next_in = reinterpret_cast<char*>(const_cast<uint8_t*>(input_));
      s.bzip.avail_in = in;
      s.bzip.next_out = reinterpret_cast<char*>(out);
      s.bzip.avail_out = space;
      int rc = BZ2_bzDecompress(&s.bzip);
      end = rc == BZ_STREAM_END;
      fault = !end && rc != BZ_OK;
      in_left = s.bzip.avail_in;
      out_left = s.bzip.avail_out;
    }
    size = space - out_left;
    size_t consumed = in - in_left;
    input_ += consumed;
    input_left_ -= consumed;
    if (fault) return Outcome::kDamaged;
    ended_ = end;
    // They count as unused so that data after the stream is still seen; input_ is not read
    // again once the stream has ended.
    input_left_ += held;
    // The end may come from bits already held, with nothing taken or made.
    bool progress = size > 0 || consumed > 0 || end;
    if (!progress && input_left_ > 0) return Outcome::kDamaged;
    if (size > 0) return Outcome::kOk;
    if (input_left_ == 0 && !ended_) {
      // Input used up: wait for more, unless none will come and the coder is stuck.
      if (!finishing) return Outcome::kOk;
      if (!progress) return Outcome::kDamaged;
    }
  }
  return Outcome::kOk;
}

Outcome Decoder::NextLzma(uint8_t* out, size_t room, size_t& size, bool finishing) {
  State& s = *state_;
  CLzmaDec& d = s.lzma;
  while (!ended_) {
    if (d.dicPos == d.dicBufSize) {
      if (s.capacity < s.target) {
        if (!s.Grow()) return Outcome::kNoMemory;
      } else {
        d.dicPos = 0;
      }
    }
    const uint64_t left = s.size - s.produced;
    if (room == 0 && left > 0) return Outcome::kOk;
    const size_t start = d.dicPos;
    const size_t span = static_cast<size_t>(std::min<uint64_t>(std::min(room, d.dicBufSize - start), left));
    // At the last byte the decoder also takes an end marker that may follow.
    ELzmaFinishMode mode = span == left ? LZMA_FINISH_END : LZMA_FINISH_ANY;
    SizeT taken = input_left_;
    ELzmaStatus status;
    SRes result = LzmaDec_DecodeToDic(&d, start + span, input_, &taken, mode, &status);
    input_ += taken;
    input_left_ -= taken;
    if (result != SZ_OK) {
      // With all output there, anything but an end marker means the stream goes on.
      if (s.produced + (d.dicPos - start) == s.size && status == LZMA_STATUS_NOT_FINISHED)
        mismatch_ = Mismatch::kBeyond;
      return Outcome::kDamaged;
    }
    size = d.dicPos - start;
    std::memcpy(out, d.dic + start, size);
    s.produced += size;
    if (status == LZMA_STATUS_FINISHED_WITH_MARK) {
      if (s.produced != s.size) {  // an end marker before the end
        mismatch_ = Mismatch::kShort;
        return Outcome::kDamaged;
      }
      ended_ = true;
    } else if (s.produced == s.size && status == LZMA_STATUS_MAYBE_FINISHED_WITHOUT_MARK) {
      ended_ = true;
    }
    if (size > 0 || ended_) return Outcome::kOk;
    if (input_left_ == 0) {
      if (!finishing) return Outcome::kOk;
      // The range coder at rest with nothing held back: the data may end here, short of the size.
      if (d.remainLen == 0 && d.code == 0 && d.tempBufSize == 0) mismatch_ = Mismatch::kShort;
      return Outcome::kDamaged;
    }
    if (taken == 0) return Outcome::kDamaged;
  }
  return Outcome::kOk;
}

// Raw LZMA2 and filtered streams, and .xz streams: all through liblzma.
Outcome Decoder::NextLiblzma(uint8_t* out, size_t room, size_t& size, bool finishing) {
  State& s = *state_;
  lzma_stream& x = s.xz;
  // Another .xz stream may follow until the input is known to end.
  const lzma_action action = method_ == Method::kXz && finishing ? LZMA_FINISH : LZMA_RUN;
  while (!ended_) {
    const uint64_t left = s.size - s.produced;
    if (room == 0 && left > 0) return Outcome::kOk;
    // Once all output is there, one spare byte shows a stream that goes on past it.
    uint8_t spare;
    const size_t space = left == 0 ? 1 : static_cast<size_t>(std::min<uint64_t>(room, left));
    x.next_in = input_;
    x.avail_in = input_left_;
    x.next_out = left == 0 ? &spare : out;
    x.avail_out = space;
    const lzma_ret rc = lzma_code(&x, action);
    const size_t consumed = input_left_ - x.avail_in;
    input_ += consumed;
    input_left_ -= consumed;
    const size_t made = space - x.avail_out;
    if (left == 0 && made > 0) {
      mismatch_ = Mismatch::kBeyond;
      return Outcome::kDamaged;
    }
    if (rc == LZMA_MEMLIMIT_ERROR) return Outcome::kTooLarge;
    if (rc == LZMA_MEM_ERROR) return Outcome::kNoMemory;
    if (rc != LZMA_OK && rc != LZMA_STREAM_END && rc != LZMA_BUF_ERROR) return Outcome::kDamaged;
    size = made;
    s.produced += made;
    if (rc == LZMA_STREAM_END) {
      if (s.produced != s.size) {  // an end mark before the end
        mismatch_ = Mismatch::kShort;
        return Outcome::kDamaged;
      }
      ended_ = true;
    }
    if (size > 0 || ended_) return Outcome::kOk;
    if (input_left_ == 0 && !finishing) return Outcome::kOk;
    if (consumed == 0) return Outcome::kDamaged;
  }
  return Outcome::kOk;
}

Outcome Decoder::NextZstd(uint8_t* out, size_t room, size_t& size, bool finishing) {
  State& s = *state_;
  // Frames that yield nothing (skippable ones) may follow the last byte and are taken
  // as well, so the stream goes on while input is left even once it has ended.
  while (!ended_ || input_left_ > 0) {
    const uint64_t left = s.size - s.produced;
    if (room == 0 && left > 0) return Outcome::kOk;
    // Once all output is there, one spare byte shows a stream that goes on past it.
    uint8_t spare;
    ZSTD_inBuffer in{input_, input_left_, 0};
    ZSTD_outBuffer o{left == 0 ? &spare : out,
                     left == 0 ? 1 : static_cast<size_t>(std::min<uint64_t>(room, left)), 0};
    const size_t rc = ZSTD_decompressStream(s.zstd, &o, &in);
    input_ += in.pos;
    input_left_ -= in.pos;
    if (ZSTD_isError(rc))
      return ZSTD_getErrorCode(rc) == ZSTD_error_frameParameter_windowTooLarge ? Outcome::kTooLarge
                                                                               : Outcome::kDamaged;
    if (left == 0 && o.pos > 0) {
      mismatch_ = Mismatch::kBeyond;
      return Outcome::kDamaged;
    }
    size = o.pos;
    s.produced += size;
    // 0: a frame is complete and all its output given. A call that does nothing says
    // nothing about the frame.
    if (in.pos > 0 || size > 0) s.frame_ended = rc == 0;
    ended_ = s.produced == s.size && s.frame_ended;
    if (size > 0) return Outcome::kOk;
    if (input_left_ == 0) {
      if (!finishing || ended_) return Outcome::kOk;
      if (s.frame_ended) mismatch_ = Mismatch::kShort;
      return Outcome::kDamaged;
    }
    if (in.pos == 0) return Outcome::kDamaged;
  }
  return Outcome::kOk;
}

Outcome Decoder::End() {
  if (!active_) return Outcome::kOk;
  active_ = false;
  if (raw_ || method_ == Method::kXz) {
    raw_ = false;
    lzma_end(&state_->xz);
    return Outcome::kOk;
  }
#ifndef TX_HAVE_ISAL
  if (method_ == Method::kDeflate && inflateEnd(&state_->zlib) != Z_OK) return Outcome::kEndFailed;
#endif
  if (method_ == Method::kBzip2 && BZ2_bzDecompressEnd(&state_->bzip) != BZ_OK) return Outcome::kEndFailed;
  return Outcome::kOk;
}

}  // namespace tx::codec
