#include "zip/zip_update.h"

#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <unordered_map>

#include "frame/bytes.h"
#include "frame/call_frame.h"
#include "frame/file_copy.h"
#include "frame/names.h"
#include "frame/output_file.h"
#include "frame/paths.h"
#include "platform/file_lock.h"
#include "platform/fs.h"
#include "platform/text.h"
#include "ui/progress.h"
#include "zip/zip_cd.h"
#include "zip/zip_certs.h"
#include "zip/zip_pack.h"
#include "zip/zip_record_fields.h"
#include "zip/zip_strong.h"

namespace tx::zip {

namespace {

using frame::LoadU16;
using frame::LoadU32;
using frame::LoadU64;
using frame::StoreU16;
using frame::StoreU32;
using platform::SysCall;
using platform::WidePath;

constexpr uint8_t kBody = 0;
constexpr uint8_t kChanged = 0x10;  // the archive being changed, in loader codes
constexpr uint8_t kSource = 0x20;   // zip_add's source
constexpr uint32_t kTextWriting = 3005;
constexpr uint32_t kTextAdding = 3012;
constexpr size_t kCopyBlock = 65536;
constexpr uint32_t kDescriptorSignature = 0x08074b50;
constexpr uint16_t kFlagDescriptor = 0x0008;
constexpr uint8_t kClsLocalShort = 0x72;

// The loader numbers its own sites; here they also tell which archive failed.
StatusCode ForArchive(StatusCode code, uint8_t archive) {
  if (code == kOk || ((code >> 8) & 0xFF) != 0) return code;
  return (code & ~0xFFu) | ((code & 0xFF) >= 2 ? archive + 2 : archive + 1);
}

struct Archive {
  CentralDirectory cd;
  Wiped<ZipArchiveState> state;
  MemberLayout layout;
};

// Damage is refused here, before anything is written: a directory past the end, members
// that overlap each other or the directory.
// An encrypted directory opens with the password (asked for once when it is empty and
// `flags` bit 2 is set).
StatusCode Load(const char16_t* path, uint8_t which, Archive& a, uint32_t& flags, Password& password) {
  if (StatusCode code = OpenCentralDirectory(path, DirectoryLimit::kWhole, a.cd, *a.state))
    return ForArchive(code, which);
  if (a.state->entry_count == 0) return kOk;
  if (StatusCode code = DecodeCentralDirectory(a.cd, *a.state, flags, password)) return code;
  return a.layout.Load(a.cd, *a.state);
}

// One central-directory record and what the update needs of it.
struct Record {
  const uint8_t* bytes = nullptr;
  size_t length = 0;
  uint64_t offset = 0;  // of the local header
  Wiped<ZipEntryInfo> entry;
};

StatusCode ReadRecord(const Archive& a, size_t position, Record& r) {
  const uint8_t* p = a.cd.block.get() + position;
  size_t left = a.cd.length - position;
  if (left < 46) return MakeCode(0, records::kClsRecordShort, place::kUpdateRecord, 0x01);
  if (LoadU32(p) != records::kCentralSignature)
    return MakeCode(0, records::kClsNoCentral, place::kUpdateRecord, 0x01);
  if (size_t{46} + LoadU16(p + 28) + LoadU16(p + 30) + LoadU16(p + 32) > left)
    return MakeCode(0, records::kClsRecordShort, place::kUpdateRecord, 0x02);
  Wiped<ZipArchiveState> scratch;
  r.bytes = p;
  StatusCode code = ReadCentralRecord(p, left, r.offset, false, r.length, *r.entry, *scratch);
  r.offset += a.cd.prefix;
  return code;
}

// The record with its local-header offset moved to `offset`. The Zip64 field is rebuilt
// to hold exactly what the 32-bit fields no longer can (and added when a new offset needs
// it); the central-directory signature field goes, as the signature itself does. Every
// other field is kept as it stands. 0 when the extra field would outgrow its 16 bits.
size_t RewriteRecord(const uint8_t* r, uint64_t offset, uint8_t* out, const ZipArchiveState* store) {
  const size_t name = LoadU16(r + 28), extra = LoadU16(r + 30), comment = LoadU16(r + 32);
  const uint8_t* fields = r + 46 + name;
  std::memcpy(out, r, 46 + name);
  const bool wide_offset = offset >= records::kMax32;
  StoreU32(out + 42, records::Field32(offset));
  const bool wide_size = LoadU32(r + 24) == records::kMax32;
  const bool wide_compressed = LoadU32(r + 20) == records::kMax32;
  const bool wide_disk = LoadU16(r + 34) == 0xFFFF;
  const bool old_wide_offset = LoadU32(r + 42) == records::kMax32;

  // The values the old Zip64 field holds, in their fixed order.
  uint64_t size = LoadU32(r + 24), compressed = LoadU32(r + 20);
  uint32_t disk = LoadU16(r + 34);
  bool had_zip64 = false;
  for (size_t at = 0; at + 4 <= extra;) {
    const size_t length = LoadU16(fields + at + 2);
    if (length > extra - at - 4) break;
    if (LoadU16(fields + at) == records::kTagZip64 && !had_zip64) {
      had_zip64 = true;
      const uint8_t* d = fields + at + 4;
      size_t used = 0;
      if (wide_size && used + 8 <= length) size = LoadU64(d + used), used += 8;
      if (wide_compressed && used + 8 <= length) compressed = LoadU64(d + used), used += 8;
      if (old_wide_offset && used + 8 <= length) used += 8;
      if (wide_disk && used + 4 <= length) disk = LoadU32(d + used);
    }
    at += 4 + length;
  }
  uint8_t zip64[4 + 28];
  size_t zip64_length = 0;
  {
    uint8_t* d = zip64 + 4;
    if (wide_size) frame::StoreU64(d + zip64_length, size), zip64_length += 8;
    if (wide_compressed) frame::StoreU64(d + zip64_length, compressed), zip64_length += 8;
    if (wide_offset) frame::StoreU64(d + zip64_length, offset), zip64_length += 8;
    if (wide_disk) StoreU32(d + zip64_length, disk), zip64_length += 4;
    StoreU16(zip64, records::kTagZip64);
    StoreU16(zip64 + 2, static_cast<uint16_t>(zip64_length));
  }
  uint8_t* w = out + 46 + name;
  auto put_zip64 = [&] {
    if (zip64_length == 0) return;
    std::memcpy(w, zip64, 4 + zip64_length);
    w += 4 + zip64_length;
  };
  if (!had_zip64) {
    put_zip64();
    if (zip64_length != 0 && LoadU16(out + 6) < 45) StoreU16(out + 6, 45);
  }
  size_t at = 0;
  for (bool zip64_done = false; at + 4 <= extra;) {
    const uint16_t tag = LoadU16(fields + at);
    const size_t length = LoadU16(fields + at + 2);
    if (length > extra - at - 4) break;
    if (tag == records::kTagZip64 && !zip64_done) {
      put_zip64();
      zip64_done = true;
    } else if (tag != records::kTagCdSignature && tag != records::kTagCertificateStore) {
      std::memcpy(w, fields + at, 4 + length);
      w += 4 + length;
    }
    at += 4 + length;
  }
  // Bytes that do not form a field are kept as they were.
  std::memcpy(w, fields + at, extra - at);
  w += extra - at;
  // The signers' certificates, once per archive, wherever the old records carried them.
  if (store != nullptr) {
    const uint32_t n = store->certificate_store_length;
    StoreU16(w, records::kTagCertificateStore), StoreU16(w + 2, static_cast<uint16_t>(n + 6));
    StoreU16(w + 4, 1);
    std::memcpy(w + 6, store->certificate_store, n);
    StoreU32(w + 6 + n, 0);
    w += 10 + n;
  }
  const size_t new_extra = static_cast<size_t>(w - (out + 46 + name));
  if (new_extra > 0xFFFF) return 0;  // no room left for the field the new offset needs
  StoreU16(out + 30, static_cast<uint16_t>(new_extra));
  std::memcpy(w, fields + extra, comment);
  return 46 + name + new_extra + comment;
}

// The archive being written and where it stands.
struct Writer {
  // The signers' certificates and the signing flags the new archive keeps.
  Wiped<ZipArchiveState> signers;
  bool store_in_records = false;  // a plain directory carries the store in its first record
  frame::OutputFile out;
  DirectoryBlock block;
  std::unique_ptr<uint8_t[]> buffer;  // a local header (up to 128 KiB) or a block of data
  uint64_t offset = 0;
  uint32_t count = 0;
  bool progress = false;
  frame::FileCopier copier;
};

constexpr size_t kBufferSize = 2 * kCopyBlock + 64;

// The length of the data descriptor at `d` (`available` bytes): with or without its
// signature, with 32- or 64-bit sizes, recognised by the sizes and CRC the central
// record gives. 0 when none matches.
size_t DescriptorLength(const uint8_t* d, size_t available, const ZipEntryInfo& e, bool zip64_first) {
  for (size_t signature : {size_t{4}, size_t{0}}) {
    if (signature != 0 && (available < 4 || LoadU32(d) != kDescriptorSignature)) continue;
    const uint8_t* p = d + signature;
    auto fits64 = [&] {
      return available >= signature + 20 && LoadU32(p) == e.crc32 && LoadU64(p + 4) == e.compressed_size &&
             LoadU64(p + 12) == e.uncompressed_size;
    };
    auto fits32 = [&] {
      return available >= signature + 12 && LoadU32(p) == e.crc32 && LoadU32(p + 4) == e.compressed_size &&
             LoadU32(p + 8) == e.uncompressed_size;
    };
    if (zip64_first && fits64()) return signature + 20;
    if (fits32()) return signature + 12;
    if (fits64()) return signature + 20;
  }
  return 0;
}

bool HasZip64Field(const uint8_t* fields, size_t length) {
  for (size_t at = 0; at + 4 <= length;) {
    size_t size = LoadU16(fields + at + 2);
    if (LoadU16(fields + at) == records::kTagZip64) return true;
    at += 4 + size;
  }
  return false;
}

// Copies a member as it stands: local header, data by the central record's compressed
// size (a streamed member's local header has 0 there), and its data descriptor.
StatusCode CopyMember(Writer& w, Archive& from, Record& r, uint64_t& copied) {
  constexpr uint8_t kPlace = place::kMemberCopy;
  platform::File& in = from.cd.file;
  platform::File& out = w.out.file();
  uint8_t* buffer = w.buffer.get();
  const ZipEntryInfo& e = *r.entry;
  if (r.offset > from.cd.file_size || from.cd.file_size - r.offset < 30)
    return MakeCode(0, kClsLocalShort, kPlace, 0x01);
  if (!in.Seek(static_cast<int64_t>(r.offset), platform::SeekFrom::Begin))
    return SystemCode(SysCall::SetFilePointer, kPlace, 0x01);
  if (!in.Read(buffer, 30)) return SystemCode(SysCall::ReadFile, kPlace, 0x01);
  if (LoadU32(buffer) != records::kLocalSignature) return MakeCode(0, records::kClsNoLocal, kPlace, 0x01);
  const size_t header = 30 + size_t{LoadU16(buffer + 26)} + LoadU16(buffer + 28);
  const uint64_t data_offset = r.offset + header;
  if (StatusCode code = from.layout.CheckMember(r.offset, data_offset, e.compressed_size)) return code;
  if (!in.Read(buffer + 30, header - 30)) return SystemCode(SysCall::ReadFile, kPlace, 0x01);
  const bool zip64 = HasZip64Field(buffer + 30 + LoadU16(buffer + 26), LoadU16(buffer + 28));
  const bool descriptor =
      (LoadU16(buffer + 6) & kFlagDescriptor) != 0 || (LoadU16(r.bytes + 8) & kFlagDescriptor) != 0;
  if (!out.Write(buffer, header)) return SystemCode(SysCall::WriteFile, kPlace, 0x01);

  const frame::FileCopier::Codes codes{SystemCode(SysCall::ReadFile, kPlace, 0x02),
                                       SystemCode(SysCall::WriteFile, kPlace, 0x02),
                                       ConditionCode(Cls::Cancelled, kPlace, 0x01)};
  if (StatusCode code = w.copier.Copy(in, out, e.compressed_size, codes, [&](uint64_t done) {
        return w.progress && ui::ProgressUpdate(static_cast<uint32_t>(done * 100 / e.compressed_size)) ==
                                 ui::kProgressCancel;
      }))
    return code;
  size_t tail = 0;
  if (descriptor) {
    const uint64_t end = data_offset + e.compressed_size;
    size_t available =
        static_cast<size_t>(std::min<uint64_t>(24, from.cd.file_size - std::min(end, from.cd.file_size)));
    size_t got = 0;
    if (!in.ReadPartial(buffer, available, got) || got != available)
      return SystemCode(SysCall::ReadFile, kPlace, 0x03);
    tail = DescriptorLength(buffer, available, e, zip64);
    if (tail == 0) return ConditionCode(Cls::ArchiveDamaged, kPlace, 0x01);
    if (StatusCode code = from.layout.CheckMember(r.offset, data_offset, e.compressed_size + tail))
      return code;
    if (!out.Write(buffer, tail)) return SystemCode(SysCall::WriteFile, kPlace, 0x03);
  }
  copied = header + e.compressed_size + tail;
  return kOk;
}

// Keeps one member: its record re-written for where it now starts, its bytes copied.
// A self-extractor's program in front of the archive goes to the new archive first; the
// offsets written after it count from the file's start, as a self-extractor's should.
StatusCode CopyPrefix(Writer& w, Archive& from) {
  const uint64_t prefix = from.cd.prefix;
  if (prefix == 0) return kOk;
  if (!from.cd.file.Seek(0, platform::SeekFrom::Begin))
    return SystemCode(SysCall::SetFilePointer, kBody, 0x21);
  const frame::FileCopier::Codes codes{SystemCode(SysCall::ReadFile, kBody, 0x21),
                                       SystemCode(SysCall::WriteFile, kBody, 0x21), kOk};
  if (StatusCode code =
          w.copier.Copy(from.cd.file, w.out.file(), prefix, codes, [](uint64_t) { return false; }))
    return code;
  w.offset = prefix;
  return kOk;
}

StatusCode Keep(Writer& w, Archive& from, Record& r, StatusCode no_grow) {
  // A Zip64 field may be added, and the certificate store to the first record.
  const bool store = w.store_in_records && w.count == 0;
  uint8_t* room = w.block.Room(r.length + 32 + (store ? 10 + kMaxCertificateStore : 0));
  if (room == nullptr) return no_grow;
  size_t length = RewriteRecord(r.bytes, w.offset, room, store ? &*w.signers : nullptr);
  if (length == 0) return ConditionCode(Cls::NameLength, place::kUpdateRecord, 0x01);
  uint64_t copied = 0;
  if (StatusCode code = CopyMember(w, from, r, copied)) return code;
  w.block.Advance(length);
  w.offset += copied;
  ++w.count;
  return kOk;
}

// The signers' store an archive carries (in its extra data record or in a record) and
// whether any member is signed.
StatusCode CollectSigners(Archive& a, ZipArchiveState& found) {
  found.certificate_store_length = a.state->certificate_store_length;
  std::memcpy(found.certificate_store, a.state->certificate_store, found.certificate_store_length);
  Wiped<ZipEntryInfo> entry;
  for (size_t position = 0; position < a.cd.length;) {
    uint64_t offset = 0;
    size_t length = 0;
    if (StatusCode code = ReadCentralRecord(a.cd.block.get() + position, a.cd.length - position, offset,
                                            false, length, *entry, found))
      return code;
    if (entry->signature_length > 0) found.signing_flags = 2;
    position += length;
  }
  return kOk;
}

// The new archive's signers: the stores of the archives it takes members from, merged
// (the destination's certificates added to the source's), and member signing kept.
StatusCode PrepareSigners(Writer& w, Archive& changed, Archive* source) {
  ZipArchiveState& result = *w.signers;
  if (StatusCode code = CollectSigners(changed, result)) return code;
  if (source != nullptr) {
    Wiped<ZipArchiveState> other;
    if (StatusCode code = CollectSigners(*source, *other)) return code;
    uint32_t merged = 0;
    if (StatusCode code = MergeStores(other->certificate_store, other->certificate_store_length,
                                      result.certificate_store, result.certificate_store_length,
                                      result.certificate_store, kMaxCertificateStore, merged))
      return code;
    result.certificate_store_length = merged;
    result.signing_flags |= other->signing_flags;
  }
  if (result.certificate_store_length != 0) result.signing_flags = 2;
  w.store_in_records = result.certificate_store_length != 0 && (changed.state->cd_flags & 3) == 0;
  return kOk;
}

// The directory (compressed and encrypted again when it was) and the end records; then
// the new archive takes the old one's name. `old` is the changed archive as read: its
// directory's flags and cipher, and for an encrypted one the random data, its encrypted
// form and the recipients, which stay; only the IV and the validation data are new.
StatusCode Finish(Writer& w, Archive& old, const Password& password, StatusCode no_grow, Archive* readers[],
                  size_t reader_count) {
  Wiped<ZipArchiveState> holder;
  ZipArchiveState& state = *holder;
  const ZipArchiveState& was = *old.state;
  ZipEntryInfo cipher = old.cd.cipher;
  state.entry_count = w.count;
  state.cd_offset = w.offset;
  state.cd_size = state.cd_original_size = static_cast<uint32_t>(w.block.size());
  // An empty directory stays plain.
  state.cd_flags = w.count != 0 ? was.cd_flags & 3 : 0;
  if (state.cd_flags & 2) {
    std::memcpy(state.strong_random, was.strong_random, sizeof state.strong_random);
    std::memcpy(state.strong_erd, was.strong_erd, sizeof state.strong_erd);
    state.strong_erd_length = was.strong_erd_length;
    std::memcpy(state.strong_transport, was.strong_transport, sizeof state.strong_transport);
    state.strong_transport_length = was.strong_transport_length;
    cipher.iv_length = was.strong_iv_length;
    cipher.validation_length = was.strong_validation_length;
  }
  if (!w.block.Reserve(kDirectoryGrow)) return no_grow;
  if (state.cd_flags != 0) {
    // A packed directory carries the recipient list and the signers' store in front.
    state.signing_flags = w.signers->signing_flags;
    std::memcpy(state.certificate_store, w.signers->certificate_store, w.signers->certificate_store_length);
    state.certificate_store_length = w.signers->certificate_store_length;
    std::memcpy(state.recipient_list, was.recipient_list, was.recipient_list_length);
    state.recipient_list_length = was.recipient_list_length;
    if (state.recipient_list_length != 0 || state.signing_flags != 0) {
      uint8_t* room = w.block.Room(kMaxArchiveExtraData);
      if (room == nullptr) return no_grow;
      const size_t records = w.block.size();
      const size_t extra = ArchiveExtraData(room, state);
      std::memmove(w.block.data() + extra, w.block.data(), records);
      ArchiveExtraData(w.block.data(), state);
      w.block.Advance(extra);
      state.cd_size = state.cd_original_size = static_cast<uint32_t>(w.block.size());
    }
    state.hash_algorithm = kHashCrc32;
    size_t capacity = w.block.size() + w.block.size() / 64 + kDirectoryGrow + kStrongMaxHeader;
    if (!w.block.Reserve(capacity)) return no_grow;
    std::unique_ptr<uint8_t[]> out(new (std::nothrow) uint8_t[capacity]);
    if (!out) return ConditionCode(Cls::NoMemory, kBody, 0x02);
    if (StatusCode code =
            ProcessCentralDirectory(w.block.data(), out.get(), capacity, cipher, password, state))
      return code;
  }
  platform::File& file = w.out.file();
  if (!file.Write(w.block.data(), state.cd_size)) return SystemCode(SysCall::WriteFile, kBody, 0x01);
  uint8_t end[kMaxEndRecords];
  ZipEntryInfo plain;
  size_t length = WriteEndRecords(end, state.cd_flags != 0 ? cipher : plain, state);
  if (!file.Write(end, length)) return SystemCode(SysCall::WriteFile, kBody, 0x02);
  for (size_t i = 0; i < reader_count; ++i)
    if (!readers[i]->cd.file.Close()) return SystemCode(SysCall::CloseHandle, kBody, 0x11);
  // Flushed, then renamed over the old archive in one step.
  return w.out.Commit() ? kOk : SystemCode(SysCall::CloseHandle, kBody, 0x01);
}

StatusCode ConvertFilter(const char* filter, WidePath& out, StatusCode conversion) {
  if (filter == nullptr || filter[0] == 0) {
    out.units[0] = u'*';
    out.units[1] = 0;
    return kOk;
  }
  return platform::Utf8ToUtf16(filter, out.units, platform::kWidePathUnits) ? kOk : conversion;
}

// Takes the lock and opens the new archive beside the old one before the old one is read
// (a file open for reading here may not be the target of a new file).
StatusCode Begin(const char16_t* archive, Writer& w, platform::FileLock& lock,
                 const frame::CallFrame& frame) {
  if (!lock.Acquire(archive)) return SystemCode(SysCall::CreateFile, kBody, 0x11);
  w.buffer.reset(new (std::nothrow) uint8_t[kBufferSize]);
  if (!w.buffer || !w.copier.Allocate() || !w.block.Reserve(kDirectoryGrow))
    return ConditionCode(Cls::NoMemory, kBody, 0x01);
  if (!w.out.Create(archive)) return SystemCode(SysCall::CreateFile, kBody, 0x01);
  w.progress = frame.progress();
  return kOk;
}

}  // namespace

StatusCode zip_delete(void* parent, const char* archive, const char* work_folder, const char* filter,
                      const char* password_argument, const uint32_t* options) {
  if (options == nullptr) return ConditionCode(Cls::BadArgument, kBody, 0x00);
  return frame::RunExport(parent, options[0], [&](frame::CallFrame& frame) -> StatusCode {
    KeyRecoveryScope keys;  // the personal store and its keys, read once for the call
    WidePath path, pattern;
    if (StatusCode code = frame::ToWidePath(archive, path)) return code;
    if (StatusCode code =
            frame::CheckWorkFolder(work_folder, SystemCode(SysCall::MultiByteToWide, kBody, 0x00)))
      return code;
    if (StatusCode code = ConvertFilter(filter, pattern, SystemCode(SysCall::MultiByteToWide, kBody, 0x01)))
      return code;
    if (frame.progress() && ui::ProgressOpen(1, 1, kTextWriting, path.c_str(), nullptr, nullptr) != 0)
      return ConditionCode(Cls::Cancelled, kBody, 0x01);
    platform::FileLock lock;
    Writer w;
    if (StatusCode code = Begin(path.c_str(), w, lock, frame)) return code;
    Archive old;
    uint32_t flags = frame.flags();
    Password password;
    password.Set(password_argument);
    if (StatusCode code = Load(path.c_str(), kChanged, old, flags, password)) return code;
    // Who may read the archive stays as it was.
    if (!w.out.file().SetModeFrom(old.cd.file)) return SystemCode(SysCall::GetFileAttributes, kBody, 0x01);
    if (old.state->entry_count == 0) return kOk;  // nothing to delete; the old file stays
    if (StatusCode code = PrepareSigners(w, old, nullptr)) return code;
    if (StatusCode code = CopyPrefix(w, old)) return code;

    Record r;
    for (uint32_t index = 1, position = 0; position < old.cd.length; ++index) {
      if (StatusCode code = ReadRecord(old, position, r)) return code;
      position += static_cast<uint32_t>(r.length);
      if (frame::MatchPattern(pattern.c_str(), r.entry->name.c_str())) continue;
      if (w.progress &&
          ui::ProgressOpen(index, old.state->entry_count, 0, nullptr, nullptr, r.entry->name.c_str()) != 0)
        return ConditionCode(Cls::Cancelled, kBody, 0x02);
      if (StatusCode code = Keep(w, old, r, ConditionCode(Cls::NoMemoryGrow, kBody, 0x00))) return code;
    }
    Archive* readers[] = {&old};
    return Finish(w, old, password, ConditionCode(Cls::NoMemoryGrow, kBody, 0x03), readers, 1);
  });
}

StatusCode zip_add(void* parent, const char* destination, const char* source, const char* work_folder,
                   const char* filter, const char* password_argument, const uint32_t* options) {
  if (options == nullptr) return ConditionCode(Cls::BadArgument, kBody, 0x00);
  return frame::RunExport(parent, options[0], [&](frame::CallFrame& frame) -> StatusCode {
    KeyRecoveryScope keys;  // the personal store and its keys, read once for the call
    const uint32_t mode = options[1];
    if (mode > 2) return ConditionCode(Cls::BadOption, kBody, 0x01);
    WidePath to, from, pattern;
    if (StatusCode code = frame::ToWidePath(destination, to)) return code;
    if (StatusCode code = frame::ToWidePath(source, from)) return code;
    // One file under two names (links, "./x.zip") is still one file.
    if (platform::SameFile(to.c_str(), from.c_str())) return ConditionCode(Cls::BadArgument, kBody, 0x01);
    if (StatusCode code =
            frame::CheckWorkFolder(work_folder, SystemCode(SysCall::MultiByteToWide, kBody, 0x02)))
      return code;
    if (StatusCode code = ConvertFilter(filter, pattern, SystemCode(SysCall::MultiByteToWide, kBody, 0x00)))
      return code;
    if (frame.progress() && ui::ProgressOpen(1, 1, kTextAdding, to.c_str(), from.c_str(), nullptr) != 0)
      return ConditionCode(Cls::Cancelled, kBody, 0x01);
    platform::FileLock lock;
    Writer w;
    if (StatusCode code = Begin(to.c_str(), w, lock, frame)) return code;
    Archive src, dst;
    uint32_t flags = frame.flags();
    Password password;
    password.Set(password_argument);
    if (StatusCode code = Load(from.c_str(), kSource, src, flags, password)) return code;
    if (StatusCode code = Load(to.c_str(), kChanged, dst, flags, password)) return code;
    if (!w.out.file().SetModeFrom(dst.cd.file)) return SystemCode(SysCall::GetFileAttributes, kBody, 0x01);
    if (src.state->entry_count == 0) return kOk;
    if (StatusCode code = PrepareSigners(w, dst, &src)) return code;
    if (StatusCode code = CopyPrefix(w, dst)) return code;
    const uint32_t total = src.state->entry_count + dst.state->entry_count;

    // Times of the source members the filter selects, and of every destination member.
    std::unordered_map<std::u16string, platform::FileTime> offered, present;
    Record r;
    for (size_t position = 0; position < src.cd.length; position += r.length) {
      if (StatusCode code = ReadRecord(src, position, r)) return code;
      if (frame::MatchPattern(pattern.c_str(), r.entry->name.c_str()))
        offered.emplace(frame::FoldedName(r.entry->name.c_str()), r.entry->modification);
    }
    for (size_t position = 0; position < dst.cd.length; position += r.length) {
      if (StatusCode code = ReadRecord(dst, position, r)) return code;
      present.emplace(frame::FoldedName(r.entry->name.c_str()), r.entry->modification);
    }

    uint32_t index = 1;
    for (size_t position = 0; position < dst.cd.length; ++index) {
      if (StatusCode code = ReadRecord(dst, position, r)) return code;
      position += r.length;
      if (mode != 0) {
        auto found = offered.find(frame::FoldedName(r.entry->name.c_str()));
        if (found != offered.end() && (mode == 1 || found->second > r.entry->modification)) continue;
      }
      if (w.progress && ui::ProgressOpen(index, total, 0, nullptr, nullptr, r.entry->name.c_str()) != 0)
        return ConditionCode(Cls::Cancelled, kBody, 0x03);
      if (StatusCode code = Keep(w, dst, r, ConditionCode(Cls::NoMemoryGrow, kBody, 0x01))) return code;
    }
    for (size_t position = 0; position < src.cd.length; ++index) {
      if (StatusCode code = ReadRecord(src, position, r)) return code;
      position += r.length;
      if (!frame::MatchPattern(pattern.c_str(), r.entry->name.c_str())) continue;
      auto found = present.find(frame::FoldedName(r.entry->name.c_str()));
      bool add = mode == 1 || found == present.end() || (mode == 2 && found->second < r.entry->modification);
      if (!add) continue;
      if (w.progress && ui::ProgressOpen(index, total, 0, nullptr, nullptr, r.entry->name.c_str()) != 0)
        return ConditionCode(Cls::Cancelled, kBody, 0x04);
      if (StatusCode code = Keep(w, src, r, ConditionCode(Cls::NoMemoryGrow, kBody, 0x02))) return code;
    }
    Archive* readers[] = {&src, &dst};
    return Finish(w, dst, password, ConditionCode(Cls::NoMemoryGrow, kBody, 0x04), readers, 2);
  });
}

}  // namespace tx::zip
