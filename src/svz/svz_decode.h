// Decoding one folder: its packed stream read in 64 KiB pieces, decrypted, decompressed,
// passed through the x86 converter (or its four branches through BCJ2), and cut into its
// unpack streams, each checked against its CRC-32. A receiver decides per stream whether its bytes are kept.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "codec/filter_converter.h"
#include "frame/status.h"
#include "platform/file.h"
#include "svz/svz_index.h"
#include "svz/svz_source.h"

namespace tx::svz {

// Where a folder's streams go. Begin says whether the stream is wanted; Write gets its
// bytes (only when wanted); Finish is called once its bytes are complete and their CRC-32
// holds. A status other than kOk ends the folder.
class StreamReceiver {
 public:
  virtual ~StreamReceiver() = default;
  virtual StatusCode Begin(uint32_t stream, bool& wanted) = 0;
  virtual StatusCode Write(const uint8_t* data, size_t size) = 0;
  virtual StatusCode Finish(uint32_t stream) = 0;
  // Between 64 KiB pieces: a nonzero status (Cancel) stops the work.
  virtual StatusCode Progress(uint64_t done, uint64_t total) = 0;
};

// Buffers of one call, allocated once.
struct DecodeBuffers {
  std::unique_ptr<uint8_t[]> input, output, filter;
  // A BCJ2 folder's: an input and an output buffer per branch, and BCJ2's output.
  static constexpr size_t kBcj2Buffers = 9;
  std::unique_ptr<uint8_t[]> bcj2;
  // Filters behind Copy, Deflate or BZip2, on the first such folder of a call.
  std::unique_ptr<codec::FilterConverter> plain_filter;
  bool Allocate();
  bool AllocateBcj2();  // on the first BCJ2 folder of a call
};

// Whether this library decodes `folder`'s chain; else the unsupported-method code.
StatusCode CheckDecodable(const FolderInfo& folder, const ArchiveIndex& index);

// Decodes `folder` (its pack stream at file offset `offset`) into `receiver`. `key` is the
// folder's AES key when it is encrypted.
StatusCode DecodeFolder(platform::File& archive, uint64_t offset, const ArchiveIndex& index, uint32_t folder,
                        const uint8_t* key, DecodeBuffers& buffers, StreamReceiver& receiver);

}  // namespace tx::svz
