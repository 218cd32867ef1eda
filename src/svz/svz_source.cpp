#include "svz/svz_source.h"

#include <algorithm>

namespace tx::svz {

namespace {

using platform::SysCall;

StatusCode InitCode(codec::Outcome outcome, uint32_t method) {
  switch (outcome) {
    case codec::Outcome::kOk: return kOk;
    case codec::Outcome::kNoMemory: return ConditionCode(Cls::NoMemory, 0, CoderStep(method, 1));
    case codec::Outcome::kTooLarge: return ConditionCode(Cls::CoderInit, 0, CoderStep(method, 2));
    default: return ConditionCode(Cls::CoderInit, 0, CoderStep(method, 1));
  }
}

}  // namespace

StatusCode PackedSource::Open(platform::File& archive, const SourcePlan& plan, const CoderRecord& coder,
                              const uint8_t* key, uint8_t* input, uint8_t* output, PackedProgress& progress,
                              codec::Filter filter) {
  Close();
  aes_ = coder.chain_flags & kChainAes;
  method_ = coder.method;
  if (aes_ && plan.packed_size % 16 != 0) return ConditionCode(Cls::CipherData, 0, 0x00);
  if (!aes_ && plan.coded_size != plan.packed_size) return ConditionCode(cls::kHeader, 0, 0x08);
  if (plan.offset > static_cast<uint64_t>(INT64_MAX)) return SystemCode(SysCall::SetFilePointer, 0, 0x03);
  if (StatusCode code = InitCode(decoder_.Init(CodecMethod(method_), coder.properties, coder.properties_size,
                                               plan.decoded_size, filter, coder.delta_distance),
                                 method_)) {
    decoder_.End();
    return code;
  }
  open_ = true;
  if (aes_ && !cipher_.Begin(key, coder, false)) return ConditionCode(Cls::CipherData, 0, 0x01);
  archive_ = &archive;
  progress_ = &progress;
  input_ = input;
  output_ = output;
  position_ = plan.offset;
  remaining_ = plan.packed_size;
  coded_left_ = plan.coded_size;
  decoded_size_ = plan.decoded_size;
  produced_ = 0;
  fed_ = plan.packed_size == 0;  // an empty stream must still end properly
  return kOk;
}

StatusCode PackedSource::Read() {
  size_t n = static_cast<size_t>(std::min<uint64_t>(kBlock, remaining_));
  if (!archive_->Seek(static_cast<int64_t>(position_), platform::SeekFrom::Begin))
    return SystemCode(SysCall::SetFilePointer, 0, 0x03);
  if (!archive_->Read(input_, n)) return SystemCode(SysCall::ReadFile, 0, 0x04);
  position_ += n;
  remaining_ -= n;
  if (StatusCode code = progress_->Read(n)) return code;
  if (aes_ && !cipher_.Run(input_, n)) return ConditionCode(Cls::CipherData, 0, 0x01);
  size_t usable = static_cast<size_t>(std::min<uint64_t>(n, coded_left_));
  coded_left_ -= usable;
  decoder_.Feed(input_, usable);
  fed_ = true;
  return kOk;
}

StatusCode PackedSource::Next(const uint8_t*& piece, size_t& size) {
  for (;;) {
    if (fed_) {
      if (decoder_.Next(output_, kBlock, piece, size, remaining_ == 0) != codec::Outcome::kOk)
        return ConditionCode(Cls::CoderFailed, 0, CoderStep(method_, 1));
      if (size > 0) {
        if (size > decoded_size_ - produced_) return ConditionCode(Cls::CoderFailed, 0, CoderStep(method_, 3));
        produced_ += size;
        return kOk;
      }
      fed_ = false;
      if (method_ != kCopy && decoder_.ended() && (decoder_.unused() > 0 || coded_left_ > 0))
        return ConditionCode(Cls::CoderFailed, 0, CoderStep(method_, 4));
    }
    if (remaining_ == 0) break;
    if (StatusCode code = Read()) return code;
  }
  if (produced_ != decoded_size_) return ConditionCode(Cls::CoderFailed, 0, CoderStep(method_, 2));
  size = 0;
  return kOk;
}

StatusCode PackedSource::Close() {
  if (!open_) return kOk;
  open_ = false;
  return decoder_.End() == codec::Outcome::kOk ? kOk : ConditionCode(Cls::CoderEnd, 0, CoderStep(method_, 1));
}

}  // namespace tx::svz
