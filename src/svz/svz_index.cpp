#include "svz/svz_index.h"

#include "frame/bytes.h"

namespace tx::svz {

namespace {

StatusCode Damaged(uint8_t place, uint8_t occurrence) {
  return ConditionCode(place == place::kEncodedHeader ? cls::kEncoded : cls::kHeader, place, occurrence);
}

// Occurrences shared by both header readers.
constexpr uint8_t kTruncated = 0x20;   // a field runs past the end of the header
constexpr uint8_t kUnexpected = 0x21;  // an identifier that cannot stand here
constexpr uint8_t kCountLarge = 0x22;  // more items than the header's bytes could describe
constexpr uint8_t kSizesWrong = 0x23;  // sizes that overflow or do not add up
constexpr uint8_t kExternal = 0x24;    // data kept outside the header
constexpr uint8_t kFilesWrong = 0x25;  // entries and streams that disagree
constexpr uint8_t kNamesWrong = 0x26;  // a names block that is not one name per entry
constexpr uint8_t kTrailing = 0x12;    // bytes behind the closing End

bool Add(uint64_t& sum, uint64_t value) {
  if (value > UINT64_MAX - sum) return false;
  sum += value;
  return true;
}

// A bit vector of `count` bits, most significant bit first.
bool ReadBits(Cursor& c, uint64_t count, std::vector<bool>& bits) {
  const uint8_t* p = c.Take((count + 7) / 8);
  if (!p) return false;
  bits.resize(count);
  for (uint64_t i = 0; i < count; ++i) bits[i] = p[i / 8] & (0x80 >> (i % 8));
  return true;
}

// An all-defined byte, or a vector of `count` defined bits.
bool ReadDefined(Cursor& c, uint64_t count, std::vector<bool>& defined) {
  uint8_t all;
  if (!c.Byte(all)) return false;
  if (all != 0) {
    defined.assign(count, true);
    return true;
  }
  return ReadBits(c, count, defined);
}

class StreamsReader {
 public:
  StreamsReader(Cursor& c, ArchiveIndex& index, uint8_t place) : c_(c), index_(index), place_(place) {}

  StatusCode Read();

 private:
  StatusCode Fail(uint8_t occurrence) const { return Damaged(place_, occurrence); }
  StatusCode PackInfo();
  StatusCode UnpackInfo();
  StatusCode SubStreams();
  StatusCode Digests(uint64_t count, std::vector<bool>& defined, std::vector<uint32_t>& crcs);
  void DefaultStreams();

  Cursor& c_;
  ArchiveIndex& index_;
  uint8_t place_;
  std::vector<uint64_t>& pack_sizes_ = index_.pack_sizes;
  std::vector<uint64_t>& unpack_sizes_ = index_.unpack_sizes;
  uint64_t pack_position_ = 0;
};

StatusCode StreamsReader::Digests(uint64_t count, std::vector<bool>& defined, std::vector<uint32_t>& crcs) {
  if (!ReadDefined(c_, count, defined)) return Fail(kTruncated);
  crcs.assign(count, 0);
  for (uint64_t i = 0; i < count; ++i) {
    if (!defined[i]) continue;
    const uint8_t* p = c_.Take(4);
    if (!p) return Fail(kTruncated);
    crcs[i] = frame::LoadU32(p);
  }
  return kOk;
}

StatusCode StreamsReader::PackInfo() {
  uint64_t count;
  if (!c_.Number(pack_position_)) return Fail(kTruncated);
  if (!c_.Number(count)) return Fail(kTruncated);
  if (count > c_.left()) return Fail(kCountLarge);
  pack_sizes_.assign(count, 0);
  bool sizes = false;
  for (;;) {
    uint8_t id;
    if (!c_.Byte(id)) return Fail(kTruncated);
    if (id == kEnd) break;
    if (id == kSize) {
      for (uint64_t& s : pack_sizes_)
        if (!c_.Number(s)) return Fail(kTruncated);
      sizes = true;
    } else if (id == kCrc) {
      std::vector<bool> defined;
      std::vector<uint32_t> crcs;
      if (StatusCode code = Digests(count, defined, crcs)) return code;
    } else {
      return Fail(kUnexpected);
    }
  }
  if (!sizes && count != 0) return Fail(kSizesWrong);
  uint64_t end = pack_position_;
  for (uint64_t s : pack_sizes_)
    if (!Add(end, s)) return Fail(kSizesWrong);
  index_.packed_end = end;
  return kOk;
}

StatusCode StreamsReader::UnpackInfo() {
  uint8_t id, external;
  uint64_t count;
  if (!c_.Byte(id)) return Fail(kTruncated);
  if (id != kFolder) return Fail(kUnexpected);
  if (!c_.Number(count)) return Fail(kTruncated);
  if (count > c_.left() / 2) return Fail(kCountLarge);  // a folder record takes two bytes at least
  if (!c_.Byte(external)) return Fail(kTruncated);
  if (external != 0) return Fail(kExternal);
  index_.folders.assign(count, FolderInfo{});
  uint64_t total_out = 0, pack_streams = 0, offset = pack_position_;
  index_.bcj2.clear();
  Bcj2Layout bcj2;
  index_.folder_records.clear();
  for (FolderInfo& f : index_.folders) {
    const size_t record = c_.pos();
    if (StatusCode code = ParseCoders(c_, f.coder, f.layout, &bcj2)) return code;
    f.record_offset = index_.folder_records.size();
    f.record_length = c_.pos() - record;
    index_.folder_records.insert(index_.folder_records.end(), c_.data() + record, c_.data() + c_.pos());
    if (pack_streams + f.layout.pack_streams > pack_sizes_.size()) return Fail(kSizesWrong);
    f.pack_offset = offset;
    f.first_pack = pack_streams;
    if (f.layout.bcj2) {
      f.bcj2 = static_cast<int32_t>(index_.bcj2.size());
      index_.bcj2.emplace_back();
      for (int k = 0; k < 4; ++k) {
        Bcj2Input& in = index_.bcj2.back().inputs[k];
        in.branch = bcj2.branches[k];
        in.pack_offset = offset;
        for (uint32_t p = 0; p < in.branch.pack; ++p) in.pack_offset += pack_sizes_[pack_streams + p];
        in.packed_size = pack_sizes_[pack_streams + in.branch.pack];
      }
    }
    for (uint32_t k = 0; k < f.layout.pack_streams; ++k)
      if (!Add(f.packed_size, pack_sizes_[pack_streams + k])) return Fail(kSizesWrong);
    pack_streams += f.layout.pack_streams;
    if (!Add(offset, f.packed_size)) return Fail(kSizesWrong);
    total_out += f.layout.out_streams;
  }
  if (pack_streams != pack_sizes_.size()) return Fail(kSizesWrong);
  if (!c_.Byte(id)) return Fail(kTruncated);
  if (id != kCodersUnPackSize) return Fail(kUnexpected);
  if (total_out > c_.left()) return Fail(kCountLarge);
  unpack_sizes_.assign(total_out, 0);
  for (uint64_t& s : unpack_sizes_)
    if (!c_.Number(s)) return Fail(kTruncated);
  size_t first = 0;
  for (FolderInfo& f : index_.folders) {
    const uint64_t* sizes = unpack_sizes_.data() + first;
    f.first_unpack = first;
    first += f.layout.out_streams;
    if (f.layout.linear) {
      f.size = sizes[f.layout.final_out];
      f.decoded_size = f.layout.method_out >= 0 ? sizes[f.layout.method_out] : f.size;
      f.coded_size = f.layout.aes_out >= 0 ? sizes[f.layout.aes_out] : f.packed_size;
      // The cipher pads to whole blocks; without one the compressor reads the packed bytes.
      if (f.layout.aes_out >= 0 && f.coded_size > f.packed_size) return Fail(kSizesWrong);
    } else if (f.bcj2 >= 0) {
      f.size = sizes[f.layout.final_out];
      f.decoded_size = f.coded_size = f.size;
      for (Bcj2Input& in : index_.bcj2[f.bcj2].inputs) {
        const Bcj2Branch& b = in.branch;
        in.coded_size = b.aes_out >= 0 ? sizes[b.aes_out] : in.packed_size;
        in.decoded_size = b.method_out >= 0 ? sizes[b.method_out] : in.coded_size;
        if (b.aes_out >= 0 && in.coded_size > in.packed_size) return Fail(kSizesWrong);
      }
    } else {
      // Shapes that are not decoded here only need their size, for listings.
      f.size = sizes[f.layout.final_out];
      f.decoded_size = f.coded_size = f.size;
    }
  }
  for (;;) {
    if (!c_.Byte(id)) return Fail(kTruncated);
    if (id == kEnd) break;
    if (id != kCrc) return Fail(kUnexpected);
    std::vector<bool> defined;
    std::vector<uint32_t> crcs;
    if (StatusCode code = Digests(count, defined, crcs)) return code;
    for (size_t i = 0; i < index_.folders.size(); ++i) {
      index_.folders[i].crc_defined = defined[i];
      index_.folders[i].crc = crcs[i];
    }
  }
  return kOk;
}

void StreamsReader::DefaultStreams() {
  index_.streams.assign(index_.folders.size(), StreamInfo{});
  for (uint32_t i = 0; i < index_.folders.size(); ++i) {
    FolderInfo& f = index_.folders[i];
    f.first_stream = i;
    f.streams = 1;
    index_.streams[i] = StreamInfo{f.size, i, f.crc_defined, f.crc};
  }
}

StatusCode StreamsReader::SubStreams() {
  std::vector<uint64_t> counts(index_.folders.size(), 1);
  uint64_t total = index_.folders.size();
  bool sizes_read = false;
  uint8_t id;
  if (!c_.Byte(id)) return Fail(kTruncated);
  if (id == kNumUnPackStream) {
    total = 0;
    for (uint64_t& n : counts) {
      if (!c_.Number(n)) return Fail(kTruncated);
      if (n == 0) return Fail(kSizesWrong);
      // Every stream but a folder's last needs its size: at least one byte each.
      if (n - 1 > c_.left() || !Add(total, n)) return Fail(kCountLarge);
    }
    if (total - index_.folders.size() > c_.left()) return Fail(kCountLarge);
    if (!c_.Byte(id)) return Fail(kTruncated);
  }
  index_.streams.assign(total, StreamInfo{});
  uint32_t s = 0;
  for (uint32_t i = 0; i < index_.folders.size(); ++i) {
    FolderInfo& f = index_.folders[i];
    f.first_stream = s;
    f.streams = static_cast<uint32_t>(counts[i]);
    for (uint32_t k = 0; k < f.streams; ++k) index_.streams[s + k].folder = i;
    s += f.streams;
  }
  if (id == kSize) {
    for (FolderInfo& f : index_.folders) {
      uint64_t left = f.size;
      for (uint32_t k = 0; k + 1 < f.streams; ++k) {
        uint64_t& size = index_.streams[f.first_stream + k].size;
        if (!c_.Number(size)) return Fail(kTruncated);
        if (size > left) return Fail(kSizesWrong);
        left -= size;
      }
      index_.streams[f.first_stream + f.streams - 1].size = left;
    }
    sizes_read = true;
    if (!c_.Byte(id)) return Fail(kTruncated);
  }
  if (!sizes_read) {
    for (FolderInfo& f : index_.folders) {
      if (f.streams != 1) return Fail(kSizesWrong);
      index_.streams[f.first_stream].size = f.size;
    }
  }
  // A folder of one stream whose folder CRC is known needs no stream CRC; the others are
  // listed in order.
  uint64_t unknown = 0;
  for (const FolderInfo& f : index_.folders) unknown += (f.streams == 1 && f.crc_defined) ? 0 : f.streams;
  for (const FolderInfo& f : index_.folders) {
    if (f.streams == 1 && f.crc_defined) {
      index_.streams[f.first_stream].crc_defined = true;
      index_.streams[f.first_stream].crc = f.crc;
    }
  }
  while (id != kEnd) {
    if (id != kCrc) return Fail(kUnexpected);
    std::vector<bool> defined;
    std::vector<uint32_t> crcs;
    if (StatusCode code = Digests(unknown, defined, crcs)) return code;
    size_t k = 0;
    for (const FolderInfo& f : index_.folders) {
      if (f.streams == 1 && f.crc_defined) continue;
      for (uint32_t j = 0; j < f.streams; ++j, ++k) {
        index_.streams[f.first_stream + j].crc_defined = defined[k];
        index_.streams[f.first_stream + j].crc = crcs[k];
      }
    }
    if (!c_.Byte(id)) return Fail(kTruncated);
  }
  return kOk;
}

StatusCode StreamsReader::Read() {
  uint8_t id;
  if (!c_.Byte(id)) return Fail(kTruncated);
  if (id == kPackInfo) {
    if (StatusCode code = PackInfo()) return code;
    if (!c_.Byte(id)) return Fail(kTruncated);
  }
  if (id == kUnPackInfo) {
    if (StatusCode code = UnpackInfo()) return code;
    if (!c_.Byte(id)) return Fail(kTruncated);
  }
  if (id == kSubStreamsInfo) {
    if (StatusCode code = SubStreams()) return code;
    if (!c_.Byte(id)) return Fail(kTruncated);
  } else {
    DefaultStreams();
  }
  if (id != kEnd) return Fail(kUnexpected);
  if (index_.folders.empty() && !pack_sizes_.empty()) return Fail(kSizesWrong);
  return kOk;
}

// Times, attributes and start positions: defined bits, an external byte, fixed-size values.
StatusCode ReadValues(Cursor& c, uint64_t files, size_t width, std::vector<bool>& defined,
                      const uint8_t*& values) {
  uint8_t external;
  if (!ReadDefined(c, files, defined)) return Damaged(place::kMainHeader, kTruncated);
  if (!c.Byte(external)) return Damaged(place::kMainHeader, kTruncated);
  if (external != 0) return Damaged(place::kMainHeader, kExternal);
  uint64_t count = 0;
  for (bool d : defined) count += d;
  values = c.Take(count * width);
  return values ? kOk : Damaged(place::kMainHeader, kTruncated);
}

class FilesReader {
 public:
  FilesReader(Cursor& c, ArchiveIndex& index) : c_(c), index_(index) {}
  StatusCode Read();

 private:
  StatusCode Fail(uint8_t occurrence) const { return Damaged(place::kMainHeader, occurrence); }
  StatusCode Names(Cursor& c);
  StatusCode Property(uint8_t id, Cursor& c);

  Cursor& c_;
  ArchiveIndex& index_;
  uint64_t files_ = 0;
  std::vector<bool> empty_stream_, empty_file_;
  uint64_t empty_streams_ = 0;
  bool names_ = false;
};

StatusCode FilesReader::Names(Cursor& c) {
  uint8_t external;
  if (!c.Byte(external)) return Fail(kTruncated);
  if (external != 0) return Fail(kExternal);
  if (c.left() % 2 != 0) return Fail(kNamesWrong);
  size_t units = c.left() / 2;
  const uint8_t* p = c.Take(c.left());
  index_.names.resize(units);
  uint64_t ends = 0;
  for (size_t i = 0; i < units; ++i) {
    index_.names[i] = static_cast<char16_t>(frame::LoadU16(p + 2 * i));
    if (index_.names[i] == 0) ++ends;
  }
  if (ends != files_ || (units != 0 && index_.names.back() != 0)) return Fail(kNamesWrong);
  size_t start = 0;
  for (EntryInfo& e : index_.entries) {
    e.name = start;
    start = index_.names.find(u'\0', start) + 1;
  }
  names_ = true;
  return kOk;
}

StatusCode FilesReader::Property(uint8_t id, Cursor& c) {
  std::vector<bool> defined;
  const uint8_t* values;
  switch (id) {
    case kEmptyStream:
      if (!ReadBits(c, files_, empty_stream_)) return Fail(kTruncated);
      empty_streams_ = 0;
      for (bool b : empty_stream_) empty_streams_ += b;
      empty_file_.assign(empty_streams_, false);
      return kOk;
    case kEmptyFile:
      if (empty_stream_.empty()) return Fail(kUnexpected);
      return ReadBits(c, empty_streams_, empty_file_) ? kOk : Fail(kTruncated);
    case kName: return Names(c);
    case kCTime:
    case kATime:
    case kMTime:
    case kWinAttributes: {
      size_t width = id == kWinAttributes ? 4 : 8;
      if (StatusCode code = ReadValues(c, files_, width, defined, values)) return code;
      for (uint64_t i = 0; i < files_; ++i) {
        if (!defined[i]) continue;
        EntryInfo& e = index_.entries[i];
        if (id == kCTime) e.ctime_defined = true, e.ctime = frame::LoadU64(values);
        if (id == kMTime) e.mtime_defined = true, e.mtime = frame::LoadU64(values);
        if (id == kATime) e.atime_defined = true, e.atime = frame::LoadU64(values);
        if (id == kWinAttributes) e.attributes_defined = true, e.attributes = frame::LoadU32(values);
        values += width;
      }
      if (id == kCTime) index_.creation_times = true;
      return kOk;
    }
    case kStartPos: return ReadValues(c, files_, 8, defined, values);
    case kDummy: c.Skip(c.left()); return kOk;
    default: return Fail(kUnexpected);  // anti items, comments and whatever else: not understood
  }
}

StatusCode FilesReader::Read() {
  if (!c_.Number(files_)) return Fail(kTruncated);
  if (files_ > c_.left() / 2) return Fail(kCountLarge);  // every name takes two bytes at least
  index_.entries.assign(files_, EntryInfo{});
  for (;;) {
    uint64_t id, size;
    if (!c_.Number(id)) return Fail(kTruncated);
    if (id == kEnd) break;
    if (!c_.Number(size) || size > c_.left()) return Fail(kTruncated);
    Cursor property(c_.data(), c_.pos() + static_cast<size_t>(size), c_.pos());
    if (id > 0xFF) return Fail(kUnexpected);
    if (StatusCode code = Property(static_cast<uint8_t>(id), property)) return code;
    if (property.left() != 0 && id != kDummy) return Fail(kSizesWrong);
    c_.Skip(size);
  }
  if (!names_ && files_ != 0) return Fail(kNamesWrong);
  uint64_t data = 0, empty = 0;
  for (uint64_t i = 0; i < files_; ++i) {
    EntryInfo& e = index_.entries[i];
    bool no_stream = !empty_stream_.empty() && empty_stream_[i];
    if (!no_stream) {
      e.kind = EntryKind::kData;
      e.stream = static_cast<uint32_t>(data++);
    } else {
      e.kind = empty_file_[empty++] ? EntryKind::kEmptyFile : EntryKind::kDirectory;
      ++(e.kind == EntryKind::kEmptyFile ? index_.counts.empty_files : index_.counts.directories);
    }
  }
  if (data != index_.streams.size()) return Fail(kFilesWrong);
  index_.counts.files = static_cast<uint32_t>(files_);
  return kOk;
}

}  // namespace

StatusCode IndexMainHeader(const uint8_t* header, size_t length, ArchiveIndex& index) {
  index = ArchiveIndex{};
  Cursor c(header, length);
  uint8_t id;
  if (!c.Byte(id) || id != kHeader) return Damaged(place::kMainHeader, 0x01);
  if (!c.Byte(id)) return Damaged(place::kMainHeader, kTruncated);
  if (id == kMainStreamsInfo) {
    if (StatusCode code = StreamsReader(c, index, place::kMainHeader).Read()) return code;
    if (!c.Byte(id)) return Damaged(place::kMainHeader, kTruncated);
  }
  if (id == kFilesInfo) {
    if (StatusCode code = FilesReader(c, index).Read()) return code;
    if (!c.Byte(id)) return Damaged(place::kMainHeader, kTruncated);
  } else if (!index.streams.empty()) {
    return Damaged(place::kMainHeader, 0x0c);
  }
  if (id != kEnd) return Damaged(place::kMainHeader, kUnexpected);
  if (c.left() != 0) return Damaged(place::kMainHeader, kTrailing);
  index.counts.pack_streams = 0;
  for (const FolderInfo& f : index.folders) index.counts.pack_streams += f.layout.pack_streams;
  index.counts.folders = static_cast<uint32_t>(index.folders.size());
  index.counts.unpack_streams = static_cast<uint32_t>(index.streams.size());
  return kOk;
}

StatusCode ParseEncodedHeader(const uint8_t* header, size_t length, uint64_t& position, EncodedSizes& sizes,
                              CoderRecord& coder) {
  Cursor c(header, length, 1);
  ArchiveIndex index;
  if (StatusCode code = StreamsReader(c, index, place::kEncodedHeader).Read()) return code;
  if (index.folders.size() != 1 || index.streams.size() != 1) return Damaged(place::kEncodedHeader, 0x03);
  const FolderInfo& f = index.folders[0];
  if (!f.layout.linear || (f.coder.chain_flags & kChainBcj)) {
    coder = f.coder;
    return ConditionCode(Cls::UnknownMethod, place::kEncodedHeader, 0x01);
  }
  if (!index.streams[0].crc_defined) return Damaged(place::kEncodedHeader, 0x05);
  coder = f.coder;
  position = f.pack_offset;
  sizes.crc = index.streams[0].crc;
  sizes.packed = f.packed_size;
  sizes.compressed = f.coded_size;
  sizes.plain = f.size;
  return kOk;
}

}  // namespace tx::svz
