#include "svz/svz_update.h"

#include <algorithm>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

#include "frame/bytes.h"
#include "frame/call_frame.h"
#include "frame/file_copy.h"
#include "frame/names.h"
#include "frame/output_file.h"
#include "frame/paths.h"
#include "platform/file_lock.h"
#include "platform/fs.h"
#include "platform/text.h"
#include "svz/svz_encode.h"
#include "svz/svz_open.h"
#include "ui/progress.h"

namespace tx::svz {

namespace {

using platform::SysCall;
using platform::WidePath;

// The archive being changed (or the destination) and the source of an add.
constexpr uint8_t kChanged = 0x01, kSource = 0x02;
constexpr uint32_t kTextWriting = 3005, kTextAdding = 3012;
constexpr uint32_t kAskPassword = 4;

StatusCode Cancelled(uint8_t place, uint8_t occurrence) {
  return ConditionCode(Cls::Cancelled, place, occurrence);
}

// A status of the header reader or of a prompt, given the archive's place when it has none
// of its own.
StatusCode Placed(StatusCode code, uint8_t place) {
  if (code == kOk || (code & 0xFF00u) != 0) return code;
  return code | uint32_t{place} << 8;
}

struct Archive {
  OpenedArchive a;
  uint8_t place = kChanged;
  const ArchiveIndex& index() const { return a.index; }
  bool solid() const { return a.index.folders.size() != a.index.streams.size(); }
};

StatusCode Open(const WidePath& path, uint8_t place, ReaderSecrets& secrets, Archive& out) {
  out.place = place;
  ReadOptions read;
  read.open_failure = SystemCode(SysCall::CreateFile, place, 0x01);
  read.password_conversion = SystemCode(SysCall::MultiByteToWide, place, 0x03);
  return Placed(OpenArchive(path.c_str(), read, secrets, out.a), place);
}

// Bits from the high bit of each byte, as 7z stores them.
void PackBits(const std::vector<bool>& bits, Bytes& out) {
  out.assign((bits.size() + 7) / 8, 0);
  for (size_t i = 0; i < bits.size(); ++i)
    if (bits[i]) out[i / 8] |= static_cast<uint8_t>(0x80 >> (i % 8));
}

// A value some entries may lack: the values of those that have it, and the defined bits
// (dropped when all are defined).
struct Values {
  Bytes block;
  std::vector<bool> defined;
  void Add(bool present, uint64_t value, size_t width) {
    defined.push_back(present);
    if (!present) return;
    uint8_t bytes[8];
    frame::StoreU64(bytes, value);
    block.insert(block.end(), bytes, bytes + width);
  }
  void Into(Bytes& values, Bytes& bits) const {
    values = block;
    bits.clear();
    if (std::find(defined.begin(), defined.end(), false) != defined.end()) PackBits(defined, bits);
  }
};

// The new archive: its file under a temporary name, the packed streams copied so far, and
// the header blocks of the entries and folders taken.
class Builder {
 public:
  Builder(frame::CallFrame& frame) : progress_(frame.progress()) {}

  StatusCode Begin(const WidePath& path) {
    if (!lock_.Acquire(path.c_str())) return SystemCode(SysCall::CreateFile, kChanged, 0x11);
    if (!copier_.Allocate()) return ConditionCode(Cls::NoMemory, 0, 0x01);
    if (!out_.Create(path.c_str())) return SystemCode(SysCall::CreateFile, 0, 0x01);
    uint8_t placeholder[kSignatureHeaderSize] = {};
    WriteSignatureHeader(placeholder, 0, 0, 0);
    if (!out_.file().Write(placeholder, sizeof placeholder)) return SystemCode(SysCall::WriteFile, 0, 0x01);
    return kOk;
  }

  platform::File& file() { return out_.file(); }

  // Copies `size` bytes at `offset` of `from` to the new archive.
  StatusCode Copy(Archive& from, uint64_t offset, uint64_t size) {
    platform::File& in = from.a.file;
    if (offset > static_cast<uint64_t>(INT64_MAX) ||
        !in.Seek(static_cast<int64_t>(offset), platform::SeekFrom::Begin))
      return SystemCode(SysCall::SetFilePointer, from.place, 0x04);
    const frame::FileCopier::Codes codes{SystemCode(SysCall::ReadFile, from.place, 0x04),
                                         SystemCode(SysCall::WriteFile, from.place, 0x01),
                                         Cancelled(from.place, 0x04)};
    if (StatusCode code = copier_.Copy(in, out_.file(), size, codes, [&](uint64_t done) {
          return progress_ &&
                 ui::ProgressUpdate(static_cast<uint32_t>(done * 100 / size)) != ui::kProgressGoOn;
        }))
      return code;
    packed_ += size;
    return kOk;
  }

  // Takes folder `f` of `from` into the header; with `copy` its packed streams too (else
  // they were copied with a whole region).
  StatusCode Folder(Archive& from, uint32_t f, bool copy) {
    const ArchiveIndex& index = from.index();
    const FolderInfo& folder = index.folders[f];
    if (copy)
      if (StatusCode code = Copy(from, from.a.base + folder.pack_offset, folder.packed_size)) return code;
    for (uint32_t k = 0; k < folder.layout.pack_streams; ++k)
      AppendNumber(blobs_.pack_sizes, index.pack_sizes[folder.first_pack + k]);
    const uint8_t* record = index.folder_records.data() + folder.record_offset;
    blobs_.folders.insert(blobs_.folders.end(), record, record + folder.record_length);
    for (uint32_t k = 0; k < folder.layout.out_streams; ++k)
      AppendNumber(blobs_.unpack_sizes, index.unpack_sizes[folder.first_unpack + k]);
    AppendNumber(blobs_.substream_counts, folder.streams);
    for (uint32_t k = 0; k < folder.streams; ++k) {
      const StreamInfo& s = index.streams[folder.first_stream + k];
      if (k + 1 < folder.streams) AppendNumber(blobs_.substream_sizes, s.size);
      crc_defined_.push_back(s.crc_defined);
      if (s.crc_defined) {
        uint8_t crc[4];
        frame::StoreU32(crc, s.crc);
        blobs_.crcs.insert(blobs_.crcs.end(), crc, crc + 4);
      }
    }
    ++counts_.folders;
    counts_.pack_streams += folder.layout.pack_streams;
    counts_.unpack_streams += folder.streams;
    return kOk;
  }

  // Takes an entry's name, times, attributes and kind into the header.
  void Entry(const ArchiveIndex& index, const EntryInfo& e) {
    for (const char16_t* p = index.name(e); *p != 0; ++p) {
      blobs_.names.push_back(static_cast<uint8_t>(*p));
      blobs_.names.push_back(static_cast<uint8_t>(*p >> 8));
    }
    blobs_.names.push_back(0);
    blobs_.names.push_back(0);
    ctimes_.Add(e.ctime_defined, e.ctime, 8);
    atimes_.Add(e.atime_defined, e.atime, 8);
    mtimes_.Add(e.mtime_defined, e.mtime, 8);
    attributes_.Add(e.attributes_defined, e.attributes, 4);
    empty_stream_.push_back(e.kind != EntryKind::kData);
    if (e.kind != EntryKind::kData) empty_file_.push_back(e.kind == EntryKind::kEmptyFile);
    ++counts_.files;
    if (e.kind == EntryKind::kEmptyFile) ++counts_.empty_files;
    if (e.kind == EntryKind::kDirectory) ++counts_.directories;
  }

  // Writes the header in the chain of `changed`'s header and replaces the archive.
  StatusCode Finish(const Archive& changed, ReaderSecrets& secrets) {
    if (std::find(empty_stream_.begin(), empty_stream_.end(), true) != empty_stream_.end()) {
      PackBits(empty_stream_, blobs_.empty_stream);
      PackBits(empty_file_, blobs_.empty_file);
    }
    if (std::find(crc_defined_.begin(), crc_defined_.end(), false) != crc_defined_.end())
      PackBits(crc_defined_, blobs_.crcs_defined);
    if (std::find(ctimes_.defined.begin(), ctimes_.defined.end(), true) != ctimes_.defined.end())
      ctimes_.Into(blobs_.creation_times, blobs_.creation_defined);
    if (std::find(atimes_.defined.begin(), atimes_.defined.end(), true) != atimes_.defined.end())
      atimes_.Into(blobs_.access_times, blobs_.access_defined);
    mtimes_.Into(blobs_.modification_times, blobs_.modification_defined);
    attributes_.Into(blobs_.attributes, blobs_.attributes_defined);
    Bytes header;
    WriteMainHeader(header, counts_, blobs_);

    // The header keeps the changed archive's chain; LZMA2 and other methods this library
    // does not write become LZMA. Encryption keeps its cycles, salt and IV sizes, with a
    // new IV (and salt) every time.
    CoderRecord chain;
    if (changed.a.header_packed) {
      const CoderRecord& old = changed.a.header_coder;
      chain.chain_flags = old.chain_flags & (kChainCompress | kChainAes);
      chain.method = old.method <= kLzma ? old.method : kLzma;
      chain.cycles_power = old.cycles_power;
      chain.salt_size = old.salt_size;
      chain.iv_size = old.iv_size;
    }
    const HeaderSites sites{
        SystemCode(SysCall::WriteFile, 0, 0x02), SystemCode(SysCall::WriteFile, 0, 0x03),
        SystemCode(SysCall::WriteFile, 0, 0x04), SystemCode(SysCall::SetFilePointer, 0, 0x01),
        SystemCode(SysCall::WriteFile, 0, 0x05), ConditionCode(Cls::CoderFailed, 0, 0x41),
        ConditionCode(Cls::NoMemory, 0, 0x0d)};
    if (StatusCode code =
            StoreHeader(out_.file(), packed_, header, chain, secrets.keys, secrets.wide, progress_, sites))
      return code;
    // Flushed, then renamed over the old archive in one step.
    return out_.Commit() ? kOk : SystemCode(SysCall::MoveFile, 0, 0x00);
  }

 private:
  bool progress_;
  platform::FileLock lock_;
  frame::OutputFile out_;
  frame::FileCopier copier_;
  uint64_t packed_ = 0;
  HeaderBlobs blobs_;
  HeaderCounts counts_;
  std::vector<bool> empty_stream_, empty_file_, crc_defined_;
  Values ctimes_, atimes_, mtimes_, attributes_;
};

// What every update call shares: the converted arguments and the password of both archives.
struct Call {
  WidePath changed, source, pattern;
  ReaderSecrets secrets;
};

StatusCode Prepare(frame::CallFrame& frame, const char* archive, const char* work_folder,
                   const char* password, Call& c) {
  if (StatusCode code = frame::ToWidePath(archive, c.changed)) return code;
  if (StatusCode code = frame::CheckWorkFolder(work_folder, SystemCode(SysCall::MultiByteToWide, 0, 0x01)))
    return code;
  c.secrets.password.Set(password);
  c.secrets.ask = frame.flags() & kAskPassword;
  c.secrets.progress = frame.progress();
  return kOk;
}

// A filter that every name passes when it is null or empty.
StatusCode ConvertFilter(const char* filter, WidePath& out) {
  out.units[0] = 0;
  if (filter == nullptr || filter[0] == 0) return kOk;
  return platform::Utf8ToUtf16(filter, out.units, platform::kWidePathUnits)
             ? kOk
             : SystemCode(SysCall::MultiByteToWide, 0, 0x02);
}

StatusCode Announce(const frame::CallFrame& frame, uint32_t index, uint32_t count, const char16_t* name,
                    uint8_t place) {
  if (frame.progress() && ui::ProgressOpen(index, count, 0, nullptr, nullptr, name) != ui::kProgressGoOn)
    return Cancelled(place, 0x03);
  return kOk;
}

// The names of a folder's files, each ended by a zero unit, for the any and all tests.
std::u16string FolderNames(const ArchiveIndex& index, const std::vector<uint32_t>& owner, uint32_t folder) {
  std::u16string names;
  const FolderInfo& f = index.folders[folder];
  for (uint32_t k = 0; k < f.streams; ++k) {
    names += index.name(index.entries[owner[f.first_stream + k]]);
    names.push_back(u'\0');
  }
  return names;
}

// The entry that owns each stream.
std::vector<uint32_t> Owners(const ArchiveIndex& index) {
  std::vector<uint32_t> owner(index.streams.size(), 0);
  for (uint32_t i = 0; i < index.entries.size(); ++i)
    if (index.entries[i].kind == EntryKind::kData) owner[index.entries[i].stream] = i;
  return owner;
}

StatusCode CheckEntryName(const ArchiveIndex& index, const EntryInfo& e) {
  return frame::CheckName(index.name(e), frame::kRefusedEntryName);
}

// svz_add: entry by entry, non-solid archives only.
StatusCode AddEntries(frame::CallFrame& frame, Call& c, uint32_t mode) {
  Builder b(frame);
  if (StatusCode code = b.Begin(c.changed)) return code;
  Archive src, dst;
  if (StatusCode code = Open(c.source, kSource, c.secrets, src)) return code;
  if (StatusCode code = Open(c.changed, kChanged, c.secrets, dst)) return code;
  if (dst.solid()) return ConditionCode(Cls::ArchiveDamaged, kChanged, 0x01);
  if (src.solid()) return ConditionCode(Cls::ArchiveDamaged, kSource, 0x01);
  if (!b.file().SetModeFrom(dst.a.file)) return SystemCode(SysCall::GetFileAttributes, 0, 0x01);

  // The modification times of the source entries the filter passes, and of every
  // destination entry, by folded name.
  std::unordered_map<std::u16string, platform::FileTime> offered, present;
  for (const EntryInfo& e : src.index().entries) {
    if (StatusCode code = Placed(CheckEntryName(src.index(), e), kSource)) return code;
    if (frame::MatchPattern(c.pattern.c_str(), src.index().name(e)))
      offered.emplace(frame::FoldedName(src.index().name(e)), e.mtime);
  }
  for (const EntryInfo& e : dst.index().entries) {
    if (StatusCode code = Placed(CheckEntryName(dst.index(), e), kChanged)) return code;
    present.emplace(frame::FoldedName(dst.index().name(e)), e.mtime);
  }
  const uint32_t total = static_cast<uint32_t>(dst.index().entries.size() + src.index().entries.size());
  uint32_t index = 0;
  for (const EntryInfo& e : dst.index().entries) {
    if (StatusCode code = Announce(frame, ++index, total, dst.index().name(e), kChanged)) return code;
    auto found = offered.find(frame::FoldedName(dst.index().name(e)));
    const bool dropped = found != offered.end() && (mode == 1 || (mode == 2 && found->second > e.mtime));
    if (dropped) continue;
    if (e.kind == EntryKind::kData)
      if (StatusCode code = b.Folder(dst, dst.index().streams[e.stream].folder, true)) return code;
    b.Entry(dst.index(), e);
  }
  for (const EntryInfo& e : src.index().entries) {
    if (StatusCode code = Announce(frame, ++index, total, src.index().name(e), kSource)) return code;
    if (!frame::MatchPattern(c.pattern.c_str(), src.index().name(e))) continue;
    auto found = present.find(frame::FoldedName(src.index().name(e)));
    const bool added = found == present.end() || mode == 1 || (mode == 2 && e.mtime > found->second);
    if (!added) continue;
    if (e.kind == EntryKind::kData)
      if (StatusCode code = b.Folder(src, src.index().streams[e.stream].folder, true)) return code;
    b.Entry(src.index(), e);
  }
  return b.Finish(dst, c.secrets);
}

// svz_add2: the destination whole, then the source's folders any of whose files the filter
// passes, with all their entries, and the source's empty entries it passes.
StatusCode AddFolders(frame::CallFrame& frame, Call& c) {
  Builder b(frame);
  if (StatusCode code = b.Begin(c.changed)) return code;
  Archive src, dst;
  if (StatusCode code = Open(c.source, kSource, c.secrets, src)) return code;
  if (StatusCode code = Open(c.changed, kChanged, c.secrets, dst)) return code;
  if (!b.file().SetModeFrom(dst.a.file)) return SystemCode(SysCall::GetFileAttributes, 0, 0x01);
  const ArchiveIndex& d = dst.index();
  const ArchiveIndex& s = src.index();
  for (const EntryInfo& e : d.entries)
    if (StatusCode code = Placed(CheckEntryName(d, e), kChanged)) return code;
  for (const EntryInfo& e : s.entries)
    if (StatusCode code = Placed(CheckEntryName(s, e), kSource)) return code;

  // The destination's packed streams in one run: they lie one after another.
  if (!d.folders.empty()) {
    const uint64_t first = d.folders.front().pack_offset;
    const uint64_t end = d.folders.back().pack_offset + d.folders.back().packed_size;
    if (StatusCode code = b.Copy(dst, dst.a.base + first, end - first)) return code;
  }
  for (uint32_t f = 0; f < d.folders.size(); ++f)
    if (StatusCode code = b.Folder(dst, f, false)) return code;
  const uint32_t total = static_cast<uint32_t>(d.entries.size() + s.entries.size());
  uint32_t index = 0;
  for (const EntryInfo& e : d.entries) {
    if (StatusCode code = Announce(frame, ++index, total, d.name(e), kChanged)) return code;
    b.Entry(d, e);
  }

  const std::vector<uint32_t> owner = Owners(s);
  std::vector<bool> taken(s.folders.size(), false);
  for (uint32_t f = 0; f < s.folders.size(); ++f) {
    const std::u16string names = FolderNames(s, owner, f);
    bool any = false;
    if (StatusCode code = frame::MatchAnyName(c.pattern.c_str(), names.c_str(), s.folders[f].streams, any))
      return Placed(code, kSource);
    taken[f] = any;
  }
  for (const EntryInfo& e : s.entries) {
    if (StatusCode code = Announce(frame, ++index, total, s.name(e), kSource)) return code;
    if (e.kind == EntryKind::kData) {
      const uint32_t f = s.streams[e.stream].folder;
      if (!taken[f]) continue;
      // A folder goes in with the first of its files; the others follow in stream order.
      if (s.folders[f].first_stream == e.stream)
        if (StatusCode code = b.Folder(src, f, true)) return code;
    } else if (!frame::MatchPattern(c.pattern.c_str(), s.name(e))) {
      continue;
    }
    b.Entry(s, e);
  }
  return b.Finish(dst, c.secrets);
}

// svz_delete and svz_delete2: entries the filter passes go; with `folders`, a folder goes
// only when the filter passes every one of its files, else it stays whole.
StatusCode Delete(frame::CallFrame& frame, Call& c, bool folders) {
  Builder b(frame);
  if (StatusCode code = b.Begin(c.changed)) return code;
  Archive old;
  if (StatusCode code = Open(c.changed, kChanged, c.secrets, old)) return code;
  if (!folders && old.solid()) return ConditionCode(Cls::ArchiveDamaged, kChanged, 0x01);
  if (!b.file().SetModeFrom(old.a.file)) return SystemCode(SysCall::GetFileAttributes, 0, 0x01);
  const ArchiveIndex& x = old.index();
  for (const EntryInfo& e : x.entries)
    if (StatusCode code = Placed(CheckEntryName(x, e), kChanged)) return code;
  const std::vector<uint32_t> owner = Owners(x);
  std::vector<bool> removed(x.folders.size(), false);
  for (uint32_t f = 0; f < x.folders.size(); ++f) {
    const std::u16string names = FolderNames(x, owner, f);
    bool all = false;
    if (StatusCode code = frame::MatchAllNames(c.pattern.c_str(), names.c_str(), x.folders[f].streams, all))
      return Placed(code, kChanged);
    removed[f] = all && x.folders[f].streams > 0;
  }
  uint32_t index = 0;
  const uint32_t total = static_cast<uint32_t>(x.entries.size());
  for (const EntryInfo& e : x.entries) {
    if (StatusCode code = Announce(frame, ++index, total, x.name(e), kChanged)) return code;
    if (e.kind == EntryKind::kData) {
      const uint32_t f = x.streams[e.stream].folder;
      if (removed[f]) continue;
      if (x.folders[f].first_stream == e.stream)
        if (StatusCode code = b.Folder(old, f, true)) return code;
    } else if (frame::MatchPattern(c.pattern.c_str(), x.name(e))) {
      continue;
    }
    b.Entry(x, e);
  }
  return b.Finish(old, c.secrets);
}

StatusCode Add(void* parent, const char* destination, const char* source, const char* work_folder,
               const char* filter, const char* password, const uint32_t* options, bool folders) {
  if (options == nullptr) return ConditionCode(Cls::BadArgument, 0, 0x00);
  return frame::RunExport(parent, options[0], [&](frame::CallFrame& frame) -> StatusCode {
    const uint32_t mode = folders ? 0 : options[1];
    if (mode > 2) return ConditionCode(Cls::BadOption, 0, 0x01);
    Call c;
    if (StatusCode code = Prepare(frame, destination, work_folder, password, c)) return code;
    if (StatusCode code = frame::ToWidePath(source, c.source)) return code;
    // One file under two names (links, "./x.7z", another case) is still one file.
    if (platform::SameFile(c.changed.c_str(), c.source.c_str()) ||
        frame::FoldedName(c.changed.c_str()) == frame::FoldedName(c.source.c_str()))
      return ConditionCode(Cls::BadArgument, 0, 0x01);
    if (StatusCode code = ConvertFilter(filter, c.pattern)) return code;
    if (frame.progress() && ui::ProgressOpen(1, 1, kTextAdding, c.changed.c_str(), c.source.c_str(),
                                             nullptr) != ui::kProgressGoOn)
      return Cancelled(0, 0x01);
    return folders ? AddFolders(frame, c) : AddEntries(frame, c, mode);
  });
}

StatusCode Remove(void* parent, const char* archive, const char* work_folder, const char* filter,
                  const char* password, const uint32_t* options, bool folders) {
  if (options == nullptr) return ConditionCode(Cls::BadArgument, 0, 0x00);
  return frame::RunExport(parent, options[0], [&](frame::CallFrame& frame) -> StatusCode {
    Call c;
    if (StatusCode code = Prepare(frame, archive, work_folder, password, c)) return code;
    if (StatusCode code = frame::ToWidePath(filter, c.pattern)) return code;
    if (frame.progress() &&
        ui::ProgressOpen(1, 1, kTextWriting, c.changed.c_str(), nullptr, nullptr) != ui::kProgressGoOn)
      return Cancelled(0, 0x01);
    return Delete(frame, c, folders);
  });
}

}  // namespace

StatusCode svz_add(void* parent, const char* destination, const char* source, const char* work_folder,
                   const char* filter, const char* password, const uint32_t* options) {
  return Add(parent, destination, source, work_folder, filter, password, options, false);
}

StatusCode svz_add2(void* parent, const char* destination, const char* source, const char* work_folder,
                    const char* filter, const char* password, const uint32_t* options) {
  return Add(parent, destination, source, work_folder, filter, password, options, true);
}

StatusCode svz_delete(void* parent, const char* archive, const char* work_folder, const char* filter,
                      const char* password, const uint32_t* options) {
  return Remove(parent, archive, work_folder, filter, password, options, false);
}

StatusCode svz_delete2(void* parent, const char* archive, const char* work_folder, const char* filter,
                       const char* password, const uint32_t* options) {
  return Remove(parent, archive, work_folder, filter, password, options, true);
}

}  // namespace tx::svz
