#include "svz/svz_decode.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "codec/bcj2.h"
#include "codec/bcj_riscv.h"
#include "codec/bcj_x86.h"
#include "codec/decoder.h"
#include "codec/filter_converter.h"
#include "crypto/crc.h"

namespace tx::svz {

namespace {

using platform::SysCall;

constexpr size_t kFilterCarry = 8;
static_assert(codec::RiscvConverter::kMaxHeldBack <= kFilterCarry);

// BCJ2's own failures, and those of filters over plain bytes, take method nibbles after
// the compressors'.
constexpr uint32_t kBcj2Step = 0x0C, kFilterStep = 0x0D;

// Packed bytes read for the receiver's progress.
class FolderProgress : public PackedProgress {
 public:
  FolderProgress(StreamReceiver& receiver, uint64_t total) : receiver_(receiver), total_(total) {}
  StatusCode Read(size_t bytes) override { return receiver_.Progress(done_ += bytes, total_); }

 private:
  StreamReceiver& receiver_;
  uint64_t total_, done_ = 0;
};

// The four branch sources as BCJ2's inputs; a source's own failure is kept for the caller.
class Bcj2Sources : public codec::Bcj2Decoder::Inputs {
 public:
  explicit Bcj2Sources(PackedSource* sources) : sources_(sources) {}
  codec::Outcome Pull(int stream, const uint8_t*& data, size_t& size) override {
    code_ = sources_[stream].Next(data, size);
    return code_ == kOk ? codec::Outcome::kOk : codec::Outcome::kReadFailed;
  }
  // The failure that stopped BCJ2: a source's, else damage in BCJ2's own streams.
  StatusCode Failure(uint8_t step) const {
    return code_ != kOk ? code_ : ConditionCode(Cls::CoderFailed, 0, CoderStep(kBcj2Step, step));
  }

 private:
  PackedSource* sources_;
  StatusCode code_ = kOk;
};

// The decoded bytes of a folder cut into its streams.
class Cutter {
 public:
  Cutter(const ArchiveIndex& index, const FolderInfo& folder, StreamReceiver& receiver)
      : index_(index), folder_(folder), receiver_(receiver) {}

  StatusCode Start() { return Open(); }

  StatusCode Put(const uint8_t* data, size_t size) {
    while (size > 0) {
      if (stream_ == folder_.streams)
        return ConditionCode(Cls::CoderFailed, 0, CoderStep(folder_.coder.method, 3));
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

// The filter between the decoder and the cutter: our own branch converters, where a few
// bytes at the end of each piece wait for the next one, or liblzma's over plain bytes.
enum class Converter : uint8_t { kNone, kX86, kRiscv, kLiblzma };

class Filter {
 public:
  Filter(Converter converter, uint8_t* buffer, codec::FilterConverter* liblzma, Cutter& cutter)
      : converter_(converter), buffer_(buffer), liblzma_(liblzma), cutter_(cutter), x86_(false) {}

  StatusCode Put(const uint8_t* data, size_t size) {
    if (converter_ == Converter::kNone) return cutter_.Put(data, size);
    if (converter_ == Converter::kLiblzma) {
      liblzma_->Feed(data, size);
      return Drain(false);
    }
    while (size > 0) {
      size_t n = std::min(size, kBlock - carry_);
      std::memcpy(buffer_ + carry_, data, n);
      data += n, size -= n;
      size_t all = carry_ + n;
      size_t done = converter_ == Converter::kX86 ? x86_.Convert(buffer_, all) : riscv_.Convert(buffer_, all);
      if (StatusCode code = cutter_.Put(buffer_, done)) return code;
      carry_ = all - done;
      std::memmove(buffer_, buffer_ + done, carry_);
    }
    return kOk;
  }

  StatusCode Flush() {
    if (converter_ == Converter::kLiblzma) {
      liblzma_->Feed(nullptr, 0);
      return Drain(true);
    }
    size_t n = carry_;
    carry_ = 0;
    return converter_ != Converter::kNone ? cutter_.Put(buffer_, n) : kOk;
  }

 private:
  StatusCode Drain(bool finishing) {
    for (;;) {
      const uint8_t* piece;
      size_t size;
      if (liblzma_->Next(piece, size, finishing) != codec::Outcome::kOk)
        return ConditionCode(Cls::CoderFailed, 0, CoderStep(kFilterStep, 1));
      if (size == 0) return kOk;
      if (StatusCode code = cutter_.Put(piece, size)) return code;
    }
  }

  Converter converter_;
  uint8_t* buffer_;
  codec::FilterConverter* liblzma_;
  Cutter& cutter_;
  codec::X86Converter x86_;
  codec::RiscvConverter riscv_;
  size_t carry_ = 0;
};

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

bool DecodeBuffers::AllocateBcj2() {
  if (!bcj2) bcj2.reset(new (std::nothrow) uint8_t[kBcj2Buffers * kBlock]);
  return bcj2 != nullptr;
}

namespace {

bool Decoded(uint32_t method) { return method <= kLzma || method == kLzma2 || method == kZstd; }

// How a linear folder's filter is undone: by liblzma while it decodes LZMA or LZMA2, else
// by our own converters.
struct FilterPlan {
  Converter converter = Converter::kNone;
  codec::Filter lzma = codec::Filter::kNone;   // undone by the LZMA or LZMA2 decoder
  codec::Filter plain = codec::Filter::kNone;  // undone by liblzma over plain bytes
};

bool PlanFilter(const CoderRecord& c, FilterPlan& plan) {
  plan = FilterPlan{};
  const bool lzma = c.method == kLzma || c.method == kLzma2;
  if (c.chain_flags & kChainBcj) plan.converter = Converter::kX86;
  if (!(c.chain_flags & kChainOther)) return true;
  const codec::Filter filter = LzmaFilter(c.filter_id);
  if (c.filter_id == 0x0B)
    plan.converter = Converter::kRiscv;
  else if (filter == codec::Filter::kX86 && !lzma)
    plan.converter = Converter::kX86;
  else if (filter == codec::Filter::kNone)
    return false;
  else if (lzma)
    plan.lzma = filter;
  else
    plan.converter = Converter::kLiblzma, plan.plain = filter;
  return true;
}

}  // namespace

StatusCode CheckDecodable(const FolderInfo& f, const ArchiveIndex& index) {
  const CoderRecord& c = f.coder;
  if (f.bcj2 >= 0) {
    for (const Bcj2Input& in : index.bcj2[f.bcj2].inputs)
      if (!Decoded(in.branch.coder.method)) return ConditionCode(Cls::UnknownMethod, 0, 0x00);
    return kOk;
  }
  FilterPlan plan;
  if (!f.layout.linear || (c.chain_flags & kChainBcj2) || !Decoded(c.method) || !PlanFilter(c, plan))
    return ConditionCode(Cls::UnknownMethod, 0, 0x00);
  if (LzmaFilter(c.filter_id) == codec::Filter::kDelta && (c.chain_flags & kChainOther) &&
      (c.delta_distance == 0 || c.delta_distance > 256))
    return ConditionCode(Cls::CoderInit, 0, CoderStep(c.method, 5));
  return kOk;
}

namespace {

StatusCode DecodeBcj2(platform::File& archive, uint64_t base, const ArchiveIndex& index, const FolderInfo& f,
                      const uint8_t* key, DecodeBuffers& buffers, StreamReceiver& receiver) {
  if (!buffers.AllocateBcj2()) return ConditionCode(Cls::NoMemory, 0, CoderStep(kBcj2Step, 1));
  FolderProgress progress(receiver, f.packed_size);
  PackedSource sources[4];
  uint8_t* memory = buffers.bcj2.get();
  for (int k = 0; k < 4; ++k) {
    const Bcj2Input& in = index.bcj2[f.bcj2].inputs[k];
    SourcePlan plan{base + in.pack_offset, in.packed_size, in.coded_size, in.decoded_size};
    if (StatusCode code = sources[k].Open(archive, plan, in.branch.coder, key, memory + 2 * k * kBlock,
                                          memory + (2 * k + 1) * kBlock, progress))
      return code;
  }
  Cutter cutter(index, f, receiver);
  if (StatusCode code = cutter.Start()) return code;
  Bcj2Sources inputs(sources);
  codec::Bcj2Decoder bcj2;
  bcj2.Init(f.size);
  uint8_t* out = memory + 8 * kBlock;
  for (;;) {
    size_t produced;
    if (bcj2.Next(inputs, out, kBlock, produced) != codec::Outcome::kOk) return inputs.Failure(1);
    if (produced == 0) break;
    if (StatusCode code = cutter.Put(out, produced)) return code;
  }
  if (bcj2.Finish(inputs) != codec::Outcome::kOk) return inputs.Failure(4);
  if (!cutter.Complete()) return ConditionCode(Cls::CoderFailed, 0, CoderStep(kBcj2Step, 2));
  for (PackedSource& s : sources)
    if (StatusCode code = s.Close()) return code;
  return kOk;
}

}  // namespace

StatusCode DecodeFolder(platform::File& archive, uint64_t offset, const ArchiveIndex& index, uint32_t folder,
                        const uint8_t* key, DecodeBuffers& buffers, StreamReceiver& receiver) {
  const FolderInfo& f = index.folders[folder];
  if (StatusCode code = CheckDecodable(f, index)) return code;
  if (f.bcj2 >= 0) return DecodeBcj2(archive, offset - f.pack_offset, index, f, key, buffers, receiver);
  const CoderRecord& c = f.coder;
  FilterPlan filters;
  PlanFilter(c, filters);
  if ((c.chain_flags & (kChainBcj | kChainOther)) && f.decoded_size != f.size)
    return ConditionCode(cls::kHeader, 0, 0x08);

  FolderProgress progress(receiver, f.packed_size);
  PackedSource source;
  SourcePlan plan{offset, f.packed_size, f.coded_size, f.decoded_size};
  if (StatusCode code = source.Open(archive, plan, c, key, buffers.input.get(), buffers.output.get(), progress,
                                    filters.lzma))
    return code;
  Cutter cutter(index, f, receiver);
  if (filters.plain != codec::Filter::kNone) {
    if (!buffers.plain_filter) buffers.plain_filter.reset(new (std::nothrow) codec::FilterConverter);
    if (!buffers.plain_filter) return ConditionCode(Cls::NoMemory, 0, CoderStep(kFilterStep, 1));
    if (codec::Outcome o = buffers.plain_filter->Init(filters.plain, c.delta_distance); o != codec::Outcome::kOk)
      return ConditionCode(o == codec::Outcome::kNoMemory ? Cls::NoMemory : Cls::CoderInit, 0,
                           CoderStep(kFilterStep, 1));
  }
  Filter filter(filters.converter, buffers.filter.get(), buffers.plain_filter.get(), cutter);
  if (StatusCode code = cutter.Start()) return code;
  for (;;) {
    const uint8_t* piece;
    size_t size;
    if (StatusCode code = source.Next(piece, size)) return code;
    if (size == 0) break;
    if (StatusCode code = filter.Put(piece, size)) return code;
  }
  if (StatusCode code = filter.Flush()) return code;
  if (!cutter.Complete()) return ConditionCode(Cls::CoderFailed, 0, CoderStep(c.method, 2));
  return source.Close();
}

}  // namespace tx::svz
