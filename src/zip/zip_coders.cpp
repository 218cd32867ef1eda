#include "zip/zip_coders.h"

#include "codec/block.h"
#include "zip/zip_records.h"

namespace tx::zip {

namespace {

constexpr uint8_t kPlaceBuffer = 0x1e;

}  // namespace

bool CodecMethod(uint32_t method, codec::Method& coder) {
  switch (method) {
    case kStore: coder = codec::Method::kCopy; return true;
    case kDeflate: coder = codec::Method::kDeflate; return true;
    case kBzip2: coder = codec::Method::kBzip2; return true;
    case kLzmaMethod: coder = codec::Method::kLzma; return true;
    case kZstdMethod: coder = codec::Method::kZstd; return true;
    case kXzMethod: coder = codec::Method::kXz; return true;
    default: return false;
  }
}

uint8_t MethodSite(uint32_t method) {
  switch (method) {
    case kDeflate: return 0x10;
    case kBzip2: return 0x20;
    case kLzmaMethod: return 0x30;
    case kZstdMethod: return 0x40;
    case kXzMethod: return 0x50;
    default: return 0x00;
  }
}

StatusCode CompressBuffer(uint32_t method, uint32_t level, const uint8_t* in, size_t in_size, uint8_t* out,
                          size_t& out_size, size_t capacity) {
  using codec::Outcome;
  codec::BlockSettings settings;
  codec::Method coder = codec::Method::kCopy;
  if (method == kDeflate || method == kBzip2) {
    CodecMethod(method, coder);
    settings.level = level != 0 ? static_cast<int>(level) : method == kDeflate ? 6 : 5;
  }
  uint8_t properties[5];
  Outcome outcome = codec::CompressBlock(coder, settings, in, in_size, out, out_size, capacity, properties);
  if (outcome == Outcome::kOk) return kOk;
  if (coder == codec::Method::kDeflate) {
    if (outcome == Outcome::kSetupFailed) return ConditionCode(Cls::CoderInit, kPlaceBuffer, 0x11);
    if (outcome == Outcome::kEndFailed) return ConditionCode(Cls::CoderEnd, kPlaceBuffer, 0x11);
    // An output that does not hold the whole stream fails when finishing.
    return ConditionCode(Cls::CoderFailed, kPlaceBuffer, outcome == Outcome::kTooLarge ? 0x12 : 0x11);
  }
  return ConditionCode(Cls::CoderFailed, kPlaceBuffer, static_cast<uint8_t>(MethodSite(method) + 0x01));
}

StatusCode DecompressDirectory(uint32_t method, const uint8_t* in, size_t size, size_t expected,
                               std::unique_ptr<uint8_t[]>& out, uint8_t place) {
  using codec::Outcome;
  // A directory compressed with Store is not one: only Deflate and BZip2 are taken.
  codec::Method coder;
  Outcome outcome = expected > codec::kMaxBlockSize ? Outcome::kTooLarge : Outcome::kDamaged;
  if ((method == kDeflate || method == kBzip2) && CodecMethod(method, coder))
    outcome = codec::DecompressBlock(coder, nullptr, 0, in, size, expected, out);
  switch (outcome) {
    case Outcome::kOk: return kOk;
    case Outcome::kTooLarge: return ConditionCode(Cls::NoMemory, place, 0x03);
    case Outcome::kNoMemory: return ConditionCode(Cls::NoMemoryGrow, place, 0x01);
    default: return ConditionCode(Cls::UnknownMethod, place, 0x01);
  }
}

}  // namespace tx::zip
