#include "crypto/crc.h"
#include "frame/bytes.h"
#include "svz/svz_header.h"

namespace tx::svz {

namespace {

void Append(Bytes& out, const Bytes& block) { out.insert(out.end(), block.begin(), block.end()); }

void AppendBytes(Bytes& out, std::initializer_list<uint8_t> bytes) { out.insert(out.end(), bytes); }

// Defined bits: all defined, or the vector.
void AppendDefined(Bytes& out, const Bytes& defined) {
  out.push_back(defined.empty() ? 1 : 0);
  Append(out, defined);
}

// A files-info property whose data is a block of fixed-size values, inline.
void AppendValues(Bytes& out, uint8_t id, const Bytes& block, const Bytes& defined) {
  out.push_back(id);
  AppendNumber(out, block.size() + 2 + defined.size());
  AppendDefined(out, defined);
  out.push_back(0);  // not external
  Append(out, block);
}

}  // namespace

size_t WriteNumber(uint64_t value, uint8_t* out) {
  // Each extra byte moves one bit of the first byte into the marker run.
  int extra = 0;
  while (extra < 8 && value >= (uint64_t{1} << (7 * (extra + 1)))) ++extra;
  if (extra == 8) {
    out[0] = 0xFF;
    frame::StoreU64(out + 1, value);
    return 9;
  }
  uint8_t marker = static_cast<uint8_t>(0xFF00 >> extra);
  uint8_t high = extra < 7 ? static_cast<uint8_t>(value >> (8 * extra)) : 0;
  out[0] = static_cast<uint8_t>(marker | high);
  for (int i = 0; i < extra; ++i) out[1 + i] = static_cast<uint8_t>(value >> (8 * i));
  return static_cast<size_t>(1 + extra);
}

void AppendNumber(Bytes& out, uint64_t value) {
  uint8_t bytes[9];
  size_t length = WriteNumber(value, bytes);
  out.insert(out.end(), bytes, bytes + length);
}

void WriteCoders(Bytes& out, CoderRecord& coder) {
  bool aes = coder.chain_flags & kChainAes;
  bool compress = coder.chain_flags & kChainCompress;
  bool bcj = coder.chain_flags & kChainBcj;
  coder.coder_count = uint32_t{aes} + uint32_t{compress} + uint32_t{bcj};
  out.push_back(static_cast<uint8_t>(coder.coder_count));
  if (aes) {
    AppendBytes(out, {0x24, 0x06, 0xF1, 0x07, 0x01});
    uint8_t first = static_cast<uint8_t>(coder.cycles_power);
    if (coder.salt_size != 0) first |= 0x80;
    if (coder.iv_size != 0) first |= 0x40;
    if (coder.salt_size == 0 && coder.iv_size == 0) {
      AppendBytes(out, {1, first});
    } else {
      uint8_t second = static_cast<uint8_t>((coder.salt_size != 0 ? (coder.salt_size - 1) << 4 : 0) |
                                            (coder.iv_size != 0 ? coder.iv_size - 1 : 0));
      out.push_back(static_cast<uint8_t>(coder.salt_size + coder.iv_size + 2));
      AppendBytes(out, {first, second});
      out.insert(out.end(), coder.salt, coder.salt + coder.salt_size);
      out.insert(out.end(), coder.iv, coder.iv + coder.iv_size);
    }
  }
  if (compress) {
    switch (coder.method) {
      case kDeflate: AppendBytes(out, {0x03, 0x04, 0x01, 0x08}); break;
      case kBzip2: AppendBytes(out, {0x03, 0x04, 0x02, 0x02}); break;
      case kLzma:
        AppendBytes(out, {0x23, 0x03, 0x01, 0x01, 0x05});
        out.insert(out.end(), coder.properties, coder.properties + 5);
        break;
      default: AppendBytes(out, {0x01, 0x00}); break;
    }
  }
  if (bcj) AppendBytes(out, {0x04, 0x03, 0x03, 0x01, 0x03});
  // Each coder reads the output of the one before it.
  if (coder.coder_count >= 2) AppendBytes(out, {0x01, 0x00});
  if (coder.coder_count == 3) AppendBytes(out, {0x02, 0x01});
}

void WriteMainHeader(Bytes& out, const HeaderCounts& counts, const HeaderBlobs& blobs) {
  out.push_back(kHeader);
  if (counts.pack_streams != 0) {
    AppendBytes(out, {kMainStreamsInfo, kPackInfo, 0x00});
    AppendNumber(out, counts.pack_streams);
    out.push_back(kSize);
    Append(out, blobs.pack_sizes);
    out.push_back(kEnd);
    AppendBytes(out, {kUnPackInfo, kFolder});
    AppendNumber(out, counts.folders);
    out.push_back(0);  // not external
    Append(out, blobs.folders);
    out.push_back(kCodersUnPackSize);
    Append(out, blobs.unpack_sizes);
    out.push_back(kEnd);
    out.push_back(kSubStreamsInfo);
    bool substreams = !(blobs.substream_counts.empty() && blobs.substream_sizes.empty());
    if (substreams && counts.folders != counts.unpack_streams) {
      out.push_back(kNumUnPackStream);
      Append(out, blobs.substream_counts);
      out.push_back(kSize);
      Append(out, blobs.substream_sizes);
    }
    out.push_back(kCrc);
    AppendDefined(out, blobs.crcs_defined);
    Append(out, blobs.crcs);
    AppendBytes(out, {kEnd, kEnd});
  }
  out.push_back(kFilesInfo);
  AppendNumber(out, counts.files);
  if (counts.empty_files + counts.directories != 0) {
    out.push_back(kEmptyStream);
    AppendNumber(out, blobs.empty_stream.size());
    Append(out, blobs.empty_stream);
    out.push_back(kEmptyFile);
    AppendNumber(out, blobs.empty_file.size());
    Append(out, blobs.empty_file);
  }
  out.push_back(kName);
  AppendNumber(out, blobs.names.size() + 1);
  out.push_back(0);
  Append(out, blobs.names);
  if (!blobs.creation_times.empty()) AppendValues(out, kCTime, blobs.creation_times, blobs.creation_defined);
  if (!blobs.access_times.empty()) AppendValues(out, kATime, blobs.access_times, blobs.access_defined);
  if (!blobs.modification_times.empty() || counts.files == 0)
    AppendValues(out, kMTime, blobs.modification_times, blobs.modification_defined);
  if (!blobs.attributes.empty() || counts.files == 0)
    AppendValues(out, kWinAttributes, blobs.attributes, blobs.attributes_defined);
  AppendBytes(out, {kEnd, kEnd});
}

void WriteEncodedHeader(Bytes& out, uint64_t position, const EncodedSizes& sizes, CoderRecord& coder) {
  AppendBytes(out, {kEncodedHeader, kPackInfo});
  AppendNumber(out, position);
  AppendBytes(out, {0x01, kSize});
  AppendNumber(out, sizes.packed);
  AppendBytes(out, {kEnd, kUnPackInfo, kFolder, 0x01, 0x00});
  WriteCoders(out, coder);
  out.push_back(kCodersUnPackSize);
  bool both = (coder.chain_flags & (kChainCompress | kChainAes)) == (kChainCompress | kChainAes);
  if (both) AppendNumber(out, sizes.compressed);
  AppendNumber(out, sizes.plain);
  AppendBytes(out, {kCrc, 0x01});
  uint8_t crc[4];
  frame::StoreU32(crc, sizes.crc);
  out.insert(out.end(), crc, crc + 4);
  AppendBytes(out, {kEnd, kEnd});
}

void WriteSignatureHeader(uint8_t* out, uint64_t next_offset, uint64_t next_size, uint32_t next_crc) {
  for (size_t i = 0; i < 6; ++i) out[i] = kSignature[i];
  out[6] = 0;
  out[7] = 3;
  frame::StoreU64(out + 12, next_offset);
  frame::StoreU64(out + 20, next_size);
  frame::StoreU32(out + 28, next_crc);
  frame::StoreU32(out + 8, crypto::Crc32Update(0xFFFFFFFFu, out + 12, 20) ^ 0xFFFFFFFFu);
}

}  // namespace tx::svz
