// Reading a main header (and the encoded header in front of a packed one) into what the
// unpackers, the lister and the updaters work from: folders with their coder chains and
// sizes, the unpack streams cut from them, and the entries. Every count is checked against
// what the header's bytes can hold before anything is allocated, and the blocks are
// cross-checked: the entries with data own exactly the unpack streams, the streams of a
// folder add up to its size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/types.h"
#include "svz/svz_header.h"

namespace tx::svz {

struct FolderInfo {
  CoderRecord coder;
  ChainLayout layout;
  uint64_t pack_offset = 0;  // from the end of the start header
  uint64_t packed_size = 0;
  uint64_t coded_size = 0;    // what the cipher yields: the compressed data
  uint64_t decoded_size = 0;  // what the decompressor yields
  uint64_t size = 0;          // the folder's output
  uint32_t first_stream = 0, streams = 0;
  // The folder record as stored (in ArchiveIndex::folder_records) and its unpack sizes (from
  // ArchiveIndex::unpack_sizes[first_unpack], layout.out_streams of them), for updates.
  size_t record_offset = 0, record_length = 0, first_unpack = 0;
  size_t first_pack = 0;  // its packed streams' sizes from ArchiveIndex::pack_sizes
  int32_t bcj2 = -1;  // a BCJ2 folder: its inputs in ArchiveIndex::bcj2
  bool crc_defined = false;
  uint32_t crc = 0;
};

// One input of a BCJ2 folder: where its packed stream lies and what each step yields.
struct Bcj2Input {
  Bcj2Branch branch;
  uint64_t pack_offset = 0;  // from the end of the start header
  uint64_t packed_size = 0, coded_size = 0, decoded_size = 0;
};

struct Bcj2Folder {
  Bcj2Input inputs[4];
};

struct StreamInfo {
  uint64_t size = 0;
  uint32_t folder = 0;
  bool crc_defined = false;
  uint32_t crc = 0;
};

enum class EntryKind : uint8_t { kData, kEmptyFile, kDirectory };

struct EntryInfo {
  size_t name = 0;  // offset into ArchiveIndex::names; each name ends with a zero unit
  EntryKind kind = EntryKind::kData;
  uint32_t stream = 0;  // with data: the unpack stream it owns
  bool mtime_defined = false, ctime_defined = false, atime_defined = false, attributes_defined = false;
  platform::FileTime mtime = 0, ctime = 0, atime = 0;
  uint32_t attributes = 0;
};

struct ArchiveIndex {
  HeaderCounts counts;
  std::vector<FolderInfo> folders;
  std::vector<Bcj2Folder> bcj2;
  Bytes folder_records;
  std::vector<uint64_t> pack_sizes, unpack_sizes;
  std::vector<StreamInfo> streams;
  std::vector<EntryInfo> entries;
  std::u16string names;
  uint64_t packed_end = 0;  // where the packed streams end, from the end of the start header
  bool creation_times = false;

  const char16_t* name(const EntryInfo& e) const { return names.c_str() + e.name; }
};

// Codes of place 0x16.
StatusCode IndexMainHeader(const uint8_t* header, size_t length, ArchiveIndex& index);

// The encoded header (starting 0x17): where the packed main header lies, its sizes and its
// coder chain. Codes of place 0x15.
StatusCode ParseEncodedHeader(const uint8_t* header, size_t length, uint64_t& position, EncodedSizes& sizes,
                              CoderRecord& coder);

}  // namespace tx::svz
