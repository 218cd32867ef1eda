#include "zip/zip_compress.h"

#include <bzlib.h>
#include <zlib.h>

#include <cstring>
#include <limits>
#include <new>

#include "zip/zip_records.h"

namespace tx::zip {

namespace {

constexpr uint8_t kPlaceBuffer = 0x1e;
constexpr int kMemberMemLevel = 9;
constexpr int kDirectoryMemLevel = 8;
constexpr int kRawWindowBits = -15;

// zlib and libbz2 count in 32 bits; larger pieces go in several turns.
constexpr size_t kMaxPiece = std::numeric_limits<unsigned>::max();

unsigned Piece(size_t size) { return static_cast<unsigned>(size < kMaxPiece ? size : kMaxPiece); }

}  // namespace

struct MemberCompressor::Streams {
  z_stream deflate{};
  bz_stream bzip2{};
  const uint8_t* input = nullptr;
  size_t input_left = 0;
};

MemberCompressor::MemberCompressor() = default;

MemberCompressor::~MemberCompressor() {
  ReleaseBzip2();
  if (deflate_level_ != 0) deflateEnd(&streams_->deflate);
}

void MemberCompressor::ReleaseBzip2() {
  if (!bzip2_active_) return;
  BZ2_bzCompressEnd(&streams_->bzip2);
  bzip2_active_ = false;
}

bool MemberCompressor::Begin(uint32_t method, uint32_t level) {
  ReleaseBzip2();
  if (!streams_) {
    streams_.reset(new (std::nothrow) Streams);
    if (!streams_) return false;
  }
  method_ = method;
  streams_->input = nullptr;
  streams_->input_left = 0;
  int lvl = static_cast<int>(level);
  if (method == kDeflate) {
    z_stream& z = streams_->deflate;
    if (deflate_level_ == lvl) return deflateReset(&z) == Z_OK;
    if (deflate_level_ != 0) deflateEnd(&z);
    deflate_level_ = 0;
    z = z_stream{};
    if (deflateInit2(&z, lvl, Z_DEFLATED, kRawWindowBits, kMemberMemLevel, Z_DEFAULT_STRATEGY) != Z_OK)
      return false;
    deflate_level_ = lvl;
    return true;
  }
  if (method == kBzip2) {
    streams_->bzip2 = bz_stream{};
    if (BZ2_bzCompressInit(&streams_->bzip2, lvl, 0, 0) != BZ_OK) return false;
    bzip2_active_ = true;
    return true;
  }
  return false;
}

void MemberCompressor::SetInput(const uint8_t* data, size_t size) {
  streams_->input = data;
  streams_->input_left = size;
}

MemberCompressor::Step MemberCompressor::Run(uint8_t* out, size_t capacity, size_t& used, bool finish) {
  Streams& s = *streams_;
  for (;;) {
    if (used == capacity) return Step::OutputFull;
    if (!finish && s.input_left == 0) return Step::NeedInput;
    unsigned in_piece = Piece(s.input_left), out_piece = Piece(capacity - used);
    unsigned in_left = 0, out_left = 0;
    int result;
    bool ended;
    if (method_ == kDeflate) {
      z_stream& z = s.deflate;
      z.next_in = const_cast<Bytef*>(s.input);
      z.avail_in = in_piece;
      z.next_out = out + used;
      z.avail_out = out_piece;
      result = deflate(&z, finish && in_piece == s.input_left ? Z_FINISH : Z_NO_FLUSH);
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
      bool last = finish && in_piece == s.input_left;
      result = BZ2_bzCompress(&b, last ? BZ_FINISH : BZ_RUN);
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

bool MemberCompressor::End() {
  if (method_ != kBzip2) return true;
  bzip2_active_ = false;
  return BZ2_bzCompressEnd(&streams_->bzip2) == BZ_OK;
}

StatusCode CompressBuffer(uint32_t method, uint32_t level, const uint8_t* in, size_t in_size, uint8_t* out,
                          size_t& out_size, size_t capacity) {
  out_size = 0;
  if (method == kDeflate) {
    z_stream z{};
    int lvl = level == 0 ? 6 : static_cast<int>(level);
    if (deflateInit2(&z, lvl, Z_DEFLATED, kRawWindowBits, kDirectoryMemLevel, Z_DEFAULT_STRATEGY) != Z_OK)
      return ConditionCode(Cls::CoderInit, kPlaceBuffer, 0x11);
    if (in_size > kMaxPiece || capacity > kMaxPiece) {
      deflateEnd(&z);
      return ConditionCode(Cls::CoderFailed, kPlaceBuffer, 0x11);
    }
    z.next_in = const_cast<Bytef*>(in);
    z.avail_in = static_cast<unsigned>(in_size);
    z.next_out = out;
    z.avail_out = static_cast<unsigned>(capacity);
    if (deflate(&z, Z_NO_FLUSH) == Z_STREAM_ERROR) {
      deflateEnd(&z);
      return ConditionCode(Cls::CoderFailed, kPlaceBuffer, 0x11);
    }
    if (deflate(&z, Z_FINISH) != Z_STREAM_END) {
      deflateEnd(&z);
      return ConditionCode(Cls::CoderFailed, kPlaceBuffer, 0x12);
    }
    out_size = capacity - z.avail_out;
    if (deflateEnd(&z) != Z_OK) return ConditionCode(Cls::CoderEnd, kPlaceBuffer, 0x11);
    return kOk;
  }
  if (method == kBzip2) {
    if (in_size > kMaxPiece || capacity > kMaxPiece)
      return ConditionCode(Cls::CoderFailed, kPlaceBuffer, 0x21);
    unsigned produced = static_cast<unsigned>(capacity);
    int block = level == 0 ? 5 : static_cast<int>(level);
    if (BZ2_bzBuffToBuffCompress(reinterpret_cast<char*>(out), &produced,
                                 reinterpret_cast<char*>(const_cast<uint8_t*>(in)),
                                 static_cast<unsigned>(in_size), block, 0, 0) != BZ_OK)
      return ConditionCode(Cls::CoderFailed, kPlaceBuffer, 0x21);
    out_size = produced;
    return kOk;
  }
  if (in_size > capacity) return ConditionCode(Cls::CoderFailed, kPlaceBuffer, 0x01);
  std::memmove(out, in, in_size);
  out_size = in_size;
  return kOk;
}

}  // namespace tx::zip
