#include "svz/svz_decode.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "codec/bcj_x86.h"
#include "codec/decoder.h"
#include "crypto/crc.h"
#include "svz/svz_aes.h"

namespace tx::svz {

namespace {

using platform::SysCall;

constexpr size_t kFilterCarry = 8;

uint8_t Step(uint32_t method, uint8_t step) { return static_cast<uint8_t>(method << 4 | step); }

// The decoded bytes of a folder cut into its streams.
class Cutter {
 public:
  Cutter(const ArchiveIndex& index, const FolderInfo& folder, StreamReceiver& receiver)
      : index_(index), folder_(folder), receiver_(receiver) {}

  StatusCode Start() { return Open(); }

  StatusCode Put(const uint8_t* data, size_t size) {
    while (size > 0) {
      if (stream_ == folder_.streams)
        return ConditionCode(Cls::CoderFailed, 0, Step(folder_.coder.method, 3));
      size_t n = static_cast<size_t>(std::min<uint64_t>(size, left_));
      crc_ = crypto::Crc32Update(crc_, data, n);
      if (wanted_)
        if (StatusCode code = receiver_.Write(data, n)) return code;
      left_ -= n, data += n, size -= n;
      if (left_ == 0) {
        if (StatusCode code = Close()) return code;
      }
    }
    return kOk;
  }

  bool Complete() const { return stream_ == folder_.streams; }

 private:
  StatusCode Open() {
    if (stream_ == folder_.streams) return kOk;
    const StreamInfo& s = index_.streams[folder_.first_stream + stream_];
    if (s.size == 0) return ConditionCode(cls::kHeader, 0, 0x07);
    left_ = s.size;
    crc_ = 0xFFFFFFFFu;
    return receiver_.Begin(folder_.first_stream + stream_, wanted_);
  }

  StatusCode Close() {
    const StreamInfo& s = index_.streams[folder_.first_stream + stream_];
    if (s.crc_defined && (crc_ ^ 0xFFFFFFFFu) != s.crc) return ConditionCode(Cls::ChecksumWrong, 0, 0x00);
    if (wanted_)
      if (StatusCode code = receiver_.Finish(folder_.first_stream + stream_)) return code;
    ++stream_;
    return Open();
  }

  const ArchiveIndex& index_;
  const FolderInfo& folder_;
  StreamReceiver& receiver_;
  uint32_t stream_ = 0;
  uint64_t left_ = 0;
  uint32_t crc_ = 0;
  bool wanted_ = false;
};

// The x86 converter between the decoder and the cutter: a few bytes at the end of each
// piece wait for the next one.
class Filter {
 public:
  Filter(bool on, uint8_t* buffer, Cutter& cutter) : on_(on), buffer_(buffer), cutter_(cutter), x86_(false) {}

  StatusCode Put(const uint8_t* data, size_t size) {
    if (!on_) return cutter_.Put(data, size);
    while (size > 0) {
      size_t n = std::min(size, kBlock - carry_);
      std::memcpy(buffer_ + carry_, data, n);
      data += n, size -= n;
      size_t all = carry_ + n;
      size_t done = x86_.Convert(buffer_, all);
      if (StatusCode code = cutter_.Put(buffer_, done)) return code;
      carry_ = all - done;
      std::memmove(buffer_, buffer_ + done, carry_);
    }
    return kOk;
  }

  StatusCode Flush() {
    size_t n = carry_;
    carry_ = 0;
    return on_ ? cutter_.Put(buffer_, n) : kOk;
  }

 private:
  bool on_;
  uint8_t* buffer_;
  Cutter& cutter_;
  codec::X86Converter x86_;
  size_t carry_ = 0;
};

StatusCode InitCode(codec::Outcome outcome, uint32_t method) {
  switch (outcome) {
    case codec::Outcome::kOk: return kOk;
    case codec::Outcome::kNoMemory: return ConditionCode(Cls::NoMemory, 0, Step(method, 1));
    case codec::Outcome::kTooLarge: return ConditionCode(Cls::CoderInit, 0, Step(method, 2));
    default: return ConditionCode(Cls::CoderInit, 0, Step(method, 1));
  }
}

// The filter liblzma undoes in front of LZMA or LZMA2, by its 7z method id.
codec::Filter LzmaFilter(uint32_t id) {
  switch (id) {
    case 0x04: return codec::Filter::kX86;
    case 0x05:
    case 0x03030205: return codec::Filter::kPowerPc;
    case 0x06:
    case 0x03030401: return codec::Filter::kIa64;
    case 0x07:
    case 0x03030501: return codec::Filter::kArm;
    case 0x08:
    case 0x03030701: return codec::Filter::kArmThumb;
    case 0x09:
    case 0x03030805: return codec::Filter::kSparc;
    case 0x0A: return codec::Filter::kArm64;
    case 0x03: return codec::Filter::kDelta;
    default: return codec::Filter::kNone;
  }
}

}  // namespace

bool DecodeBuffers::Allocate() {
  input.reset(new (std::nothrow) uint8_t[kBlock]);
  output.reset(new (std::nothrow) uint8_t[kBlock]);
  filter.reset(new (std::nothrow) uint8_t[kBlock + kFilterCarry]);
  return input && output && filter;
}

StatusCode CheckDecodable(const FolderInfo& f) {
  const CoderRecord& c = f.coder;
  if (!f.layout.linear || (c.chain_flags & kChainBcj2) || (c.method > kLzma && c.method != kLzma2))
    return ConditionCode(Cls::UnknownMethod, 0, 0x00);
  if (c.chain_flags & kChainOther) {
    // Other filters come from liblzma, which has them only in front of LZMA and LZMA2.
    if (LzmaFilter(c.filter_id) == codec::Filter::kNone || (c.method != kLzma && c.method != kLzma2))
      return ConditionCode(Cls::UnknownMethod, 0, 0x00);
    if (LzmaFilter(c.filter_id) == codec::Filter::kDelta && (c.delta_distance == 0 || c.delta_distance > 256))
      return ConditionCode(Cls::CoderInit, 0, Step(c.method, 5));
  }
  return kOk;
}

StatusCode DecodeFolder(platform::File& archive, uint64_t offset, const ArchiveIndex& index, uint32_t folder,
                        const uint8_t* key, DecodeBuffers& buffers, StreamReceiver& receiver) {
  const FolderInfo& f = index.folders[folder];
  if (StatusCode code = CheckDecodable(f)) return code;
  const CoderRecord& c = f.coder;
  const uint32_t method = c.method;
  const bool aes = c.chain_flags & kChainAes, bcj = c.chain_flags & kChainBcj;
  const codec::Filter lzma_filter =
      c.chain_flags & kChainOther ? LzmaFilter(c.filter_id) : codec::Filter::kNone;
  if ((bcj || lzma_filter != codec::Filter::kNone) && f.decoded_size != f.size)
    return ConditionCode(cls::kHeader, 0, 0x08);
  if (aes && f.packed_size % 16 != 0) return ConditionCode(Cls::CipherData, 0, 0x00);
  if (!aes && f.coded_size != f.packed_size) return ConditionCode(cls::kHeader, 0, 0x08);

  codec::Decoder decoder;
  if (StatusCode code = InitCode(decoder.Init(CodecMethod(method), c.properties, c.properties_size,
                                              f.decoded_size, lzma_filter, c.delta_distance),
                                 method)) {
    decoder.End();
    return code;
  }
  struct Release {
    codec::Decoder& d;
    bool open = true;
    ~Release() {
      if (open) d.End();
    }
  } release{decoder};
  StreamCipher cipher;
  if (aes && !cipher.Begin(key, c, false)) return ConditionCode(Cls::CipherData, 0, 0x01);

  Cutter cutter(index, f, receiver);
  Filter filter(bcj, buffers.filter.get(), cutter);
  if (StatusCode code = cutter.Start()) return code;
  if (offset > static_cast<uint64_t>(INT64_MAX) ||
      !archive.Seek(static_cast<int64_t>(offset), platform::SeekFrom::Begin))
    return SystemCode(SysCall::SetFilePointer, 0, 0x03);

  uint64_t produced = 0;
  auto drain = [&](bool finishing) -> StatusCode {
    for (;;) {
      const uint8_t* piece;
      size_t size;
      if (decoder.Next(buffers.output.get(), kBlock, piece, size, finishing) != codec::Outcome::kOk)
        return ConditionCode(Cls::CoderFailed, 0, Step(method, 1));
      if (size == 0) return kOk;
      if (size > f.decoded_size - produced) return ConditionCode(Cls::CoderFailed, 0, Step(method, 3));
      produced += size;
      if (StatusCode code = filter.Put(piece, size)) return code;
    }
  };
  uint64_t remaining = f.packed_size, coded_left = f.coded_size;
  while (remaining > 0) {
    size_t n = static_cast<size_t>(std::min<uint64_t>(kBlock, remaining));
    if (!archive.Read(buffers.input.get(), n)) return SystemCode(SysCall::ReadFile, 0, 0x04);
    remaining -= n;
    if (StatusCode code = receiver.Progress(f.packed_size - remaining, f.packed_size)) return code;
    if (aes && !cipher.Run(buffers.input.get(), n)) return ConditionCode(Cls::CipherData, 0, 0x01);
    size_t usable = static_cast<size_t>(std::min<uint64_t>(n, coded_left));
    coded_left -= usable;
    decoder.Feed(buffers.input.get(), usable);
    if (StatusCode code = drain(remaining == 0)) return code;
    if (method != kCopy && decoder.ended() && (decoder.unused() > 0 || coded_left > 0))
      return ConditionCode(Cls::CoderFailed, 0, Step(method, 4));
  }
  if (!decoder.ended() && method != kCopy)
    if (StatusCode code = drain(true)) return code;
  if (produced != f.decoded_size) return ConditionCode(Cls::CoderFailed, 0, Step(method, 2));
  if (StatusCode code = filter.Flush()) return code;
  if (!cutter.Complete()) return ConditionCode(Cls::CoderFailed, 0, Step(method, 2));
  release.open = false;
  if (decoder.End() != codec::Outcome::kOk) return ConditionCode(Cls::CoderEnd, 0, Step(method, 1));
  return kOk;
}

}  // namespace tx::svz
