// The coding methods the formats share, and the outcomes of the coders in neutral terms.
#pragma once

#include <cstdint>

namespace tx::codec {

enum class Method : uint8_t {
  kCopy = 0,
  kDeflate = 1,
  kBzip2 = 2,
  kLzma = 3,
  kLzma2 = 4,
  kZstd = 5,
  kXz = 6,  // .xz streams, as ZIP stores them
};

// Filters undone on the output of LZMA or LZMA2, or on plain bytes (decoding only): the branch
// converters and Delta.
enum class Filter : uint8_t { kNone, kX86, kPowerPc, kIa64, kArm, kArmThumb, kSparc, kArm64, kDelta };

// Neutral outcomes; each format composes its own status codes from them.
enum class Outcome : uint8_t {
  kOk,
  kSetupFailed,  // the coder cannot be set up (bad parameters or properties)
  kNoMemory,
  kDamaged,    // the data cannot be decoded, or the coder failed while coding
  kEndFailed,  // the library reports a failure when the coder ends
  kTooLarge,   // a size or dictionary beyond the limits, or an output buffer too small
  kReadFailed,
  kWriteFailed,
  kCancelled,
};

}  // namespace tx::codec
