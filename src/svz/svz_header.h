// The bytes of 7z structures: numbers, the start header, folder records (coder chains),
// the main header and the encoded header that describes a packed main header. Writers
// append to growable buffers; readers keep every read inside the buffer they are given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "codec/method.h"
#include "frame/status.h"

namespace tx::svz {

using Bytes = std::vector<uint8_t>;

namespace place {
inline constexpr uint8_t kSignatureSearch = 0x13;
inline constexpr uint8_t kCoders = 0x14;
inline constexpr uint8_t kEncodedHeader = 0x15;
inline constexpr uint8_t kMainHeader = 0x16;
}  // namespace place

// Header classes of the format.
namespace cls {
inline constexpr Cls kBeyondFile = static_cast<Cls>(0x74);
inline constexpr Cls kHeader = static_cast<Cls>(0x75);
inline constexpr Cls kEncoded = static_cast<Cls>(0x76);
inline constexpr Cls kFolder = static_cast<Cls>(0x77);
inline constexpr Cls kNoSignature = static_cast<Cls>(0x84);
inline constexpr Cls kHeaderCrc = static_cast<Cls>(0x85);
}  // namespace cls

inline constexpr size_t kSignatureHeaderSize = 32;
inline constexpr uint8_t kSignature[6] = {0x37, 0x7A, 0xBC, 0xAF, 0x27, 0x1C};

// Property identifiers.
enum Id : uint8_t {
  kEnd = 0x00,
  kHeader = 0x01,
  kArchiveProperties = 0x02,
  kAdditionalStreams = 0x03,
  kMainStreamsInfo = 0x04,
  kFilesInfo = 0x05,
  kPackInfo = 0x06,
  kUnPackInfo = 0x07,
  kSubStreamsInfo = 0x08,
  kSize = 0x09,
  kCrc = 0x0A,
  kFolder = 0x0B,
  kCodersUnPackSize = 0x0C,
  kNumUnPackStream = 0x0D,
  kEmptyStream = 0x0E,
  kEmptyFile = 0x0F,
  kAnti = 0x10,
  kName = 0x11,
  kCTime = 0x12,
  kATime = 0x13,
  kMTime = 0x14,
  kWinAttributes = 0x15,
  kStartPos = 0x18,
  kDummy = 0x19,
  kEncodedHeader = 0x17,
};

// Compression methods: the numbers of the option words, then the ones only recognised.
enum Method : uint32_t {
  kCopy = 0,
  kDeflate = 1,
  kBzip2 = 2,
  kLzma = 3,
  kPpmd = 4,
  kLzma2 = 5,
  kDeflate64 = 6,
  kZstd = 7,
  kUnknownMethod = 15,
};
inline constexpr uint32_t kLastPackMethod = kLzma;

// The codec's name of a method this library decodes (Copy for the others).
inline codec::Method CodecMethod(uint32_t method) {
  return method == kLzma2  ? codec::Method::kLzma2
         : method == kZstd ? codec::Method::kZstd
         : method <= kLzma ? static_cast<codec::Method>(method)
                           : codec::Method::kCopy;
}

// Chain flags of a folder.
inline constexpr uint32_t kChainCompress = 0x1;
inline constexpr uint32_t kChainAes = 0x2;
inline constexpr uint32_t kChainBcj = 0x4;
inline constexpr uint32_t kChainBcj2 = 0x8;
inline constexpr uint32_t kChainOther = 0x10;  // a filter other than BCJ, named by filter_id

inline constexpr uint32_t kMaxCyclesPower = 62;      // what a writer may be asked for
inline constexpr uint32_t kMaxReadCyclesPower = 30;  // what an archive may demand of a reader

// One folder's coder chain.
struct CoderRecord {
  uint32_t coder_count = 0;
  uint32_t chain_flags = 0;
  uint32_t method = kCopy;
  uint8_t properties[8] = {};
  uint32_t properties_size = 0;
  uint32_t cycles_power = 0;
  uint32_t salt_size = 0;
  uint8_t salt[16] = {};
  uint32_t iv_size = 0;
  uint8_t iv[16] = {};
  uint32_t filter_id = 0;       // with kChainOther: the filter's method id; else an unknown method's
  uint32_t delta_distance = 0;  // a Delta filter's distance (0: its property is missing or malformed)
};

// Entry counts of a main header.
struct HeaderCounts {
  uint32_t pack_streams = 0;
  uint32_t folders = 0;
  uint32_t files = 0;
  uint32_t unpack_streams = 0;
  uint32_t empty_files = 0;
  uint32_t directories = 0;
};

// The pre-encoded blocks a packer gathers while it stores entries.
struct HeaderBlobs {
  Bytes pack_sizes, folders, unpack_sizes, substream_counts, substream_sizes, crcs;
  Bytes empty_stream, empty_file;
  Bytes names, creation_times, access_times, modification_times, attributes;
  // Which entries (streams, for crcs) have a value, one bit each from the high bit; empty:
  // all of them. Archives we make define every value; updates keep what others left out.
  Bytes crcs_defined, creation_defined, access_defined, modification_defined, attributes_defined;
};

// Shortest form of `value` into `out` (up to 9 bytes); the length.
size_t WriteNumber(uint64_t value, uint8_t* out);
void AppendNumber(Bytes& out, uint64_t value);

// The folder record of `coder` (AES, compressor, BCJ, then the bind pairs); sets its coder
// count from its flags.
void WriteCoders(Bytes& out, CoderRecord& coder);

// The main header from the counts and the blocks.
void WriteMainHeader(Bytes& out, const HeaderCounts& counts, const HeaderBlobs& blobs);

// Sizes of a packed main header.
struct EncodedSizes {
  uint32_t crc = 0;  // of the plain main header
  uint64_t plain = 0, compressed = 0, packed = 0;
};

// The header that points at a packed main header at `position` (after the start header).
void WriteEncodedHeader(Bytes& out, uint64_t position, const EncodedSizes& sizes, CoderRecord& coder);

// The 32-byte start header.
void WriteSignatureHeader(uint8_t* out, uint64_t next_offset, uint64_t next_size, uint32_t next_crc);

// A reader over a header buffer that never looks past its end.
class Cursor {
 public:
  Cursor(const uint8_t* data, size_t size, size_t pos = 0) : data_(data), size_(size), pos_(pos) {}
  bool Byte(uint8_t& value);
  bool Number(uint64_t& value);
  // A number that must fit `limit` (inclusive).
  bool Count(uint64_t& value, uint64_t limit);
  bool Skip(uint64_t bytes);
  const uint8_t* Take(uint64_t bytes);  // null when the bytes are not there
  bool Peek(uint8_t& value) const;
  size_t pos() const { return pos_; }
  size_t left() const { return size_ - pos_; }
  const uint8_t* data() const { return data_; }

 private:
  const uint8_t* data_;
  size_t size_, pos_;
};

// Reads one 7z number; false when it would run past the end.
bool ReadNumber(const uint8_t* data, size_t size, uint64_t& value, size_t& length);

// Where the start header says the next header is.
struct SignatureInfo {
  size_t offset = 0;  // of the signature in the searched buffer
  uint64_t next_offset = 0, next_size = 0;
  uint32_t next_crc = 0;
};

// The first whole start header in `buffer` whose CRC holds. None: 0x00841301; only start
// headers with a wrong CRC: 0x00851301.
StatusCode FindSignatureHeader(const uint8_t* buffer, size_t length, SignatureInfo& info);

// Parses one folder record from the cursor into a linear chain: AES, one compressor and
// BCJ, in whatever order the record lists them, joined by its bind pairs. Methods and
// filters that are recognised but not decoded mark the chain (method, kChainOther)
// instead of failing, so that listings can name them; `linear` is false for a folder whose
// coders do not form a single chain. `out_streams` gets the number of unpack sizes the
// folder has; `order` the position of each chain step among them (AES output, compressor
// output, final output), for the sizes.
struct ChainLayout {
  bool linear = false;
  bool bcj2 = false;  // a BCJ2 coder fed by four branches: `bcj2` of ParseCoders holds them
  uint32_t out_streams = 0;
  uint32_t pack_streams = 0;
  int aes_out = -1, method_out = -1, final_out = -1;  // indices into the folder's unpack sizes
};

// One input of a BCJ2 coder: a packed stream, decrypted when `coder` has AES, and
// decompressed when it has a compressor (else Copy).
struct Bcj2Branch {
  CoderRecord coder;
  uint32_t pack = 0;                  // which of the folder's packed streams feeds it
  int aes_out = -1, method_out = -1;  // indices into the folder's unpack sizes
};

// The main, call, jump and range-coder inputs of a BCJ2 coder.
struct Bcj2Layout {
  Bcj2Branch branches[4];
};

// `bcj2`, when given, gets the branches of a BCJ2 folder (then `layout.bcj2` is set): each
// branch AES then at most one compressor, every AES with the salt and cycles of the first,
// and the folder's method is the main branch's.
StatusCode ParseCoders(Cursor& cursor, CoderRecord& coder, ChainLayout& layout, Bcj2Layout* bcj2 = nullptr);

}  // namespace tx::svz
