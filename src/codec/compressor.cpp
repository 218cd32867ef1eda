#include "codec/compressor.h"

#include <bzlib.h>
#include <zlib.h>

#include <new>

#include "codec/units.h"

namespace tx::codec {

namespace {

constexpr int kRawWindowBits = -15;

}  // namespace

struct Compressor::Streams {
  z_stream deflate{};
  bz_stream bzip2{};
  const uint8_t* input = nullptr;
  size_t input_left = 0;
};

Compressor::Compressor() = default;

Compressor::~Compressor() {
  ReleaseBzip2();
  if (deflate_level_ != 0) deflateEnd(&streams_->deflate);
}

void Compressor::ReleaseBzip2() {
  if (!bzip2_active_) return;
  BZ2_bzCompressEnd(&streams_->bzip2);
  bzip2_active_ = false;
}

bool Compressor::Begin(Method method, int level, int memory_level) {
  ReleaseBzip2();
  if (!streams_) {
    streams_.reset(new (std::nothrow) Streams);
    if (!streams_) return false;
  }
  method_ = method;
  streams_->input = nullptr;
  streams_->input_left = 0;
  if (method == Method::kDeflate) {
    z_stream& z = streams_->deflate;
    if (deflate_level_ == level && deflate_memory_ == memory_level) return deflateReset(&z) == Z_OK;
    if (deflate_level_ != 0) deflateEnd(&z);
    deflate_level_ = 0;
    z = z_stream{};
    if (deflateInit2(&z, level, Z_DEFLATED, kRawWindowBits, memory_level, Z_DEFAULT_STRATEGY) != Z_OK)
      return false;
    deflate_level_ = level;
    deflate_memory_ = memory_level;
    return true;
  }
  if (method == Method::kBzip2) {
    streams_->bzip2 = bz_stream{};
    if (BZ2_bzCompressInit(&streams_->bzip2, level, 0, 0) != BZ_OK) return false;
    bzip2_active_ = true;
    return true;
  }
  return false;
}

void Compressor::SetInput(const uint8_t* data, size_t size) {
  streams_->input = data;
  streams_->input_left = size;
}

Compressor::Step Compressor::Run(uint8_t* out, size_t capacity, size_t& used, bool finish) {
  Streams& s = *streams_;
  for (;;) {
    if (used == capacity) return Step::OutputFull;
    if (!finish && s.input_left == 0) return Step::NeedInput;
    unsigned in_piece = Units(s.input_left), out_piece = Units(capacity - used);
    bool last = finish && in_piece == s.input_left;
    unsigned in_left = 0, out_left = 0;
    bool ended;
    if (method_ == Method::kDeflate) {
      z_stream& z = s.deflate;
      z.next_in = const_cast<Bytef*>(s.input);
      z.avail_in = in_piece;
      z.next_out = out + used;
      z.avail_out = out_piece;
      int result = deflate(&z, last ? Z_FINISH : Z_NO_FLUSH);
      // Z_BUF_ERROR only says no progress was possible; the loop above decides what is missing.
      if (result == Z_STREAM_ERROR) return Step::Failed;
      ended = result == Z_STREAM_END;
      in_left = z.avail_in;
      out_left = z.avail_out;
    } else {
      bz_stream& b = s.bzip2;
      b.next_in = reinterpret_cast<char*>(const_cast<uint8_t*>(s.input));
      b.avail_in = in_piece;
      b.next_out = reinterpret_cast<char*>(out + used);
      b.avail_out = out_piece;
      int result = BZ2_bzCompress(&b, last ? BZ_FINISH : BZ_RUN);
      if (result != (last ? BZ_FINISH_OK : BZ_RUN_OK) && !(last && result == BZ_STREAM_END))
        return Step::Failed;
      ended = result == BZ_STREAM_END;
      in_left = b.avail_in;
      out_left = b.avail_out;
    }
    size_t consumed = in_piece - in_left;
    s.input += consumed;
    s.input_left -= consumed;
    used += out_piece - out_left;
    if (ended) return Step::Done;
  }
}

bool Compressor::DeflatePiece(int level, int memory_level, const uint8_t* history, size_t history_size,
                              const uint8_t* in, size_t size, bool last, uint8_t* out, size_t capacity,
                              size_t& produced) {
  produced = 0;
  if (!Begin(Method::kDeflate, level, memory_level)) return false;
  z_stream& z = streams_->deflate;
  if (history_size != 0 && deflateSetDictionary(&z, history, static_cast<unsigned>(history_size)) != Z_OK)
    return false;
  const int flush = last ? Z_FINISH : Z_SYNC_FLUSH;
  for (;;) {
    const unsigned in_piece = Units(size), out_piece = Units(capacity - produced);
    if (out_piece == 0) return false;
    z.next_in = const_cast<Bytef*>(in);
    z.avail_in = in_piece;
    z.next_out = out + produced;
    z.avail_out = out_piece;
    const int result = deflate(&z, in_piece == size ? flush : Z_NO_FLUSH);
    if (result == Z_STREAM_ERROR) return false;
    in += in_piece - z.avail_in;
    size -= in_piece - z.avail_in;
    produced += out_piece - z.avail_out;
    // Finished: the final block is out, or the flush ended with room to spare.
    if (last ? result == Z_STREAM_END : size == 0 && z.avail_out != 0) return true;
  }
}

bool Compressor::End() {
  if (method_ != Method::kBzip2 || !bzip2_active_) return true;
  bzip2_active_ = false;
  return BZ2_bzCompressEnd(&streams_->bzip2) == BZ_OK;
}

}  // namespace tx::codec
