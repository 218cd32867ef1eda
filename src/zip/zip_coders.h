// ZIP's compression methods on the shared coders: method numbers 0, 8, 12, 14, 93 and 95, and
// ZIP's codes composed from the coders' outcomes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "codec/method.h"
#include "frame/status.h"

namespace tx::zip {

// Methods this library reads but does not write.
inline constexpr uint32_t kLzmaMethod = 14, kZstdMethod = 93, kXzMethod = 95;
// Method 14's data starts with the SDK version (2 bytes), the properties' size (2 bytes,
// always 5) and the five LZMA property bytes.
inline constexpr size_t kLzmaHeader = 9;

// zlib's memory level for member data (a central directory takes the default, 8).
inline constexpr int kMemberMemoryLevel = 9;

// The coder of ZIP method 0 (Store: Copy), 8 (Deflate), 12 (BZip2), 14 (LZMA), 93 (Zstandard)
// or 95 (XZ); false for others.
bool CodecMethod(uint32_t method, codec::Method& coder);

// The occurrence base of a method's codes: 0x00 Store, 0x10 Deflate, 0x20 BZip2, 0x30 LZMA,
// 0x40 Zstandard, 0x50 XZ.
uint8_t MethodSite(uint32_t method);

// One-call compression of a central directory into `out` (at most `capacity` bytes);
// `out_size` gets the length. Deflate at `level` (6 for 0), BZip2 with the block size
// `level` (5 for 0); any other method stores. Codes of place 0x1e.
StatusCode CompressBuffer(uint32_t method, uint32_t level, const uint8_t* in, size_t in_size, uint8_t* out,
                          size_t& out_size, size_t capacity);

// Decompresses a central directory of `method` (8 or 12) that must come to exactly
// `expected` bytes into `out`: NoMemory 0x03 for claims beyond the codec's block limit,
// NoMemoryGrow 0x01 when the output cannot grow, UnknownMethod 0x01 for other methods and
// damaged data. Codes of `place`.
StatusCode DecompressDirectory(uint32_t method, const uint8_t* in, size_t size, size_t expected,
                               std::unique_ptr<uint8_t[]>& out, uint8_t place);

}  // namespace tx::zip
