#include "zip/zip_pack.h"

#include <cstring>
#include <new>
#include <string>

#include "frame/call_frame.h"
#include "frame/folder_walk.h"
#include "frame/name_list.h"
#include "frame/paths.h"
#include "frame/random.h"
#include "platform/clock.h"
#include "platform/cores.h"
#include "platform/dir_search.h"
#include "platform/fs.h"
#include "platform/system.h"
#include "ui/progress.h"
#include "zip/zip_certs.h"
#include "zip/zip_pack_ahead.h"
#include "zip/zip_strong.h"

namespace tx::zip {

namespace {

using platform::SysCall;
using platform::WidePath;

constexpr uint8_t kBody = 0;  // codes raised in the exports themselves
constexpr uint32_t kTextPacking = 3002;

StatusCode Option(uint8_t word) { return ConditionCode(Cls::BadOption, kBody, word); }

// The option words as packing uses them.
struct PackSettings {
  uint32_t method = kStore;
  uint32_t level = 6;
  uint32_t cd_flags = 0;
  uint32_t encryption = kNoEncryption;
  uint32_t key_length = 0;
  uint32_t iv_length = 0, validation_length = 0, strong_flags = 0;
  uint32_t signing = 0, signing_hash = kHashCrc32;
  bool demand = false;
  uint32_t ntfs_times = 0;
  uint32_t utf8_names = 0;
};

bool IsStrong(uint32_t kind) { return kind == kStrong3Des || kind == kStrongAes; }

// Checks the words in the order callers rely on: method, level, central-directory flags,
// encryption kind, demanded encryption, then the strong-encryption and signing words.
StatusCode ReadOptions(const uint32_t* o, PackSettings& s) {
  if (o[2] != kStore && o[2] != kDeflate && o[2] != kBzip2) return Option(0x02);
  if (o[3] < 1 || o[3] > 9) return Option(0x03);
  if (o[4] > 3) return Option(0x04);
  if (o[5] > kAeAutomatic && !IsStrong(o[5])) return Option(0x05);
  if (o[0] != 0 && o[5] == kNoEncryption) return ConditionCode(Cls::PasswordProblem, kBody, 0x02);
  if (IsStrong(o[5])) {
    if (o[7] < 1 || o[7] > 16) return Option(0x07);
    if (o[8] < 16 || o[8] > 128 || o[8] % 16 != 0) return Option(0x08);
    // Key wrapping and a 3DES master key mean something only for a password or
    // recipients; without either nobody could open the archive.
    const uint32_t flags = o[9] & 0x4103;
    if (flags == 0 || (flags & 0x0003) == 0) return Option(0x09);
    s.iv_length = o[7];
    s.validation_length = o[8];
    // Recipients always get a 3DES master key; without them only the password bit counts.
    s.strong_flags = (flags & 0x0002) ? flags | (o[5] == kStrongAes ? 0x4000 : 0) : flags & 0x0001;
  }
  if (o[10] > 3) return Option(0x0a);
  if (o[10] != 0 && o[11] != 1 && o[11] != 2) return Option(0x0b);
  s.signing = o[10];
  if (o[10] != 0) s.signing_hash = o[11] == 1 ? kHashMd5 : kHashSha1;
  s.method = o[2];
  s.level = o[3];
  s.encryption = o[5];
  s.cd_flags = o[4];
  if (s.method == kStore) s.cd_flags &= ~1u;       // nothing to gain
  if (!IsStrong(s.encryption)) s.cd_flags &= ~2u;  // only strong encryption covers the directory
  if (s.encryption == kStrong3Des) {
    s.key_length = 21;
  } else if (s.encryption != kNoEncryption) {
    uint32_t k = o[6];
    s.key_length = (k % 8 != 0 || k < 16) ? 16 : k > 32 ? 32 : k;
  }
  if (s.encryption != kNoEncryption && !IsStrong(s.encryption)) s.strong_flags = 1;
  s.demand = o[0] != 0;
  s.ntfs_times = o[12];
  s.utf8_names = o[13];
  return kOk;
}

// A member as found on disk, before its data: method, cipher and the estimated size.
void SetUpEntry(const PackSettings& s, const platform::FileInfo& found, ZipEntryInfo& e) {
  e.attributes = found.attributes;
  e.modification = found.last_write;
  e.creation = found.creation;
  e.access = found.last_access;
  e.ntfs_times = s.ntfs_times;
  e.utf8_name = s.utf8_names;
  e.level = s.level;
  SetDosStamp(e);
  bool folder = found.attributes & platform::kAttrDirectory;
  if (folder || found.size == 0) return;  // stored, never encrypted
  e.method = s.method;
  e.uncompressed_size = found.size;
  e.compressed_size = found.size;
  e.encryption = s.encryption;
  if (e.encryption == kAeAutomatic) e.encryption = found.size >= 20 && e.method != kBzip2 ? kAe1 : kAe2;
  if (IsStrong(e.encryption)) {
    // Header, validation data and padding, as the largest options make them.
    const uint64_t block = e.encryption == kStrongAes ? 16 : 8;
    e.key_length = s.key_length;
    e.iv_length = s.iv_length;
    e.validation_length = s.validation_length;
    e.strong_flags = s.strong_flags;
    e.compressed_size += block - found.size % block + (block == 16 ? 310 : 302);
  } else if (e.encryption != kNoEncryption) {
    e.key_length = s.key_length;
    e.strong_flags = 1;
    e.compressed_size += s.key_length / 2 + 12;
  }
}

// A member's data held for the writer; what does not fit is refused, not cut.
class SlotOutput final : public MemberOutput {
 public:
  SlotOutput(uint8_t* data, size_t capacity) : data_(data), capacity_(capacity) {}
  bool Write(const uint8_t* data, size_t size) override {
    if (size > capacity_ - used_) {
      overflowed_ = true;
      return false;
    }
    std::memcpy(data_ + used_, data, size);
    used_ += size;
    return true;
  }
  size_t used() const { return used_; }
  bool overflowed() const { return overflowed_; }

 private:
  uint8_t* data_;
  size_t capacity_, used_ = 0;
  bool overflowed_ = false;
};

enum MemberKind : uint32_t { kSkipped, kFolderMember, kEmptyMember, kDataMember };

// A listed name as found on disk: its full path, its entry set up, and what kind of member
// it makes (the archive being replaced is skipped).
StatusCode PrepareMember(const PackSettings& s, const WidePath& base, const char16_t* name,
                         bool archive_exists, const platform::FileInfo& archive_info, ZipEntryInfo& entry,
                         WidePath& full, uint32_t& kind) {
  const size_t base_length = base.length(), name_length = platform::Utf16Length(name);
  if (base_length + name_length >= platform::kWidePathUnits) return ConditionCode(Cls::NameLength, 0, 0x02);
  std::char_traits<char16_t>::copy(full.units, base.units, base_length);
  std::char_traits<char16_t>::copy(full.units + base_length, name, name_length + 1);
  platform::FileInfo found;
  if (!platform::GetFileInfo(full.c_str(), found)) return SystemCode(SysCall::GetFileAttributes, 0, 0x00);
  kind = kSkipped;
  // A list may name the archive being replaced: it cannot hold itself.
  if (archive_exists && platform::IsSameFile(found, archive_info)) return kOk;
  entry = ZipEntryInfo{};
  size_t stored = name_length;
  const bool folder = found.attributes & platform::kAttrDirectory;
  if (folder)
    while (stored > 0 && name[stored - 1] == u'/') --stored;
  if (stored + (folder ? 1 : 0) >= platform::kWidePathUnits) return ConditionCode(Cls::NameLength, 0, 0x02);
  std::char_traits<char16_t>::copy(entry.name.units, name, stored);
  if (folder) entry.name.units[stored++] = u'/';
  entry.name.units[stored] = 0;
  SetUpEntry(s, found, entry);
  kind = folder ? kFolderMember : entry.uncompressed_size == 0 ? kEmptyMember : kDataMember;
  return kOk;
}

// The member's data is known beforehand only for AE-2 with Store: exact size, no CRC.
bool NeedsRewrite(const ZipEntryInfo& e) {
  return e.uncompressed_size != 0 && !(e.encryption == kAe2 && e.method == kStore);
}

StatusCode WriteFirstHeader(MemberWriter& w, uint32_t masking, ZipEntryInfo& e, uint8_t* header,
                            size_t& length, uint8_t occurrence) {
  e.local_zip64 = false;  // this write decides whether the Zip64 field is there; the rewrite keeps it
  length = WriteLocalHeader(header, masking, e);
  if (!w.archive.file().Write(header, length)) return SystemCode(SysCall::WriteFile, kBody, occurrence);
  return kOk;
}

// The entry that describes the central directory's own coding in the end records.
ZipEntryInfo DirectoryCipher(const PackSettings& s) {
  ZipEntryInfo e;
  e.method = s.method;
  e.level = s.level;
  e.encryption = s.encryption;
  e.key_length = s.key_length;
  e.iv_length = s.iv_length;
  e.validation_length = s.validation_length;
  e.strong_flags = s.strong_flags;
  return e;
}

// What both exports do once the names are known and the archive is open: the central
// directory coded and written, the end records written, the archive kept.
StatusCode FinishArchive(MemberWriter& w, const PackSettings& s, DirectoryBlock& block,
                         const ZipEntryInfo& last, ZipArchiveState& state, uint8_t write_block,
                         uint8_t write_end, StatusCode no_memory, StatusCode no_grow) {
  state.cd_size = state.cd_original_size = static_cast<uint32_t>(block.size());
  ZipEntryInfo cipher = DirectoryCipher(s);
  if (state.cd_flags != 0) {
    // Room for a compressed block that outgrows its input, and for a decryption header.
    size_t capacity = block.size() + block.size() / 64 + kDirectoryGrow + kStrongMaxHeader;
    if (!block.Reserve(capacity)) return no_grow;
    std::unique_ptr<uint8_t[]> out(new (std::nothrow) uint8_t[capacity]);
    if (!out) return no_memory;
    if (StatusCode code =
            ProcessCentralDirectory(block.data(), out.get(), capacity, cipher, *w.password, state))
      return code;
  } else if (state.signing_flags & 1) {
    if (StatusCode code = DigestDirectory(block.data(), block.size(), state)) return code;
  }
  platform::File& file = w.archive.file();
  if (!file.Write(block.data(), state.cd_size)) return SystemCode(SysCall::WriteFile, kBody, write_block);
  if ((state.signing_flags & 1) && w.signer != nullptr)
    if (StatusCode code = WriteDirectorySignature(*w.signer, file, state, write_end - 1)) return code;
  uint8_t end[kMaxEndRecords];
  size_t length = WriteEndRecords(end, state.cd_flags != 0 ? cipher : last, state);
  if (!file.Write(end, length)) return SystemCode(SysCall::WriteFile, kBody, write_end);
  return kOk;
}

// Rewrites a member's local header with its final values at `offset`.
StatusCode RewriteHeader(MemberWriter& w, uint32_t masking, ZipEntryInfo& e, uint64_t offset,
                         size_t first_length, uint8_t* header, uint8_t seek_site, uint8_t write_site) {
  platform::File& file = w.archive.file();
  size_t length = WriteLocalHeader(header, masking, e);
  // The Zip64 decision is kept, so the lengths agree; a writer that disagreed would
  // overwrite the member's data.
  if (length != first_length) return SystemCode(SysCall::WriteFile, kBody, write_site);
  if (!file.Seek(static_cast<int64_t>(offset), platform::SeekFrom::Begin))
    return SystemCode(SysCall::SetFilePointer, kBody, seek_site);
  if (!file.Write(header, length)) return SystemCode(SysCall::WriteFile, kBody, write_site);
  return kOk;
}

// The state's directory settings, then the signer and the recipients, all before the
// archive file exists: a certificate that cannot serve leaves nothing behind.
StatusCode StartCertificates(frame::CallFrame& frame, const PackSettings& s, const Password& password,
                             Signer& signer, ZipArchiveState& state) {
  state.cd_flags = s.cd_flags;
  state.signing_flags = s.signing;
  state.hash_algorithm = s.signing_hash;
  const bool ask = (frame.flags() & frame::CallFrame::kFlagAskPassword) != 0;
  if (s.signing != 0)
    if (StatusCode code = SetUpSigner(s.signing_hash, ask, signer, state)) return code;
  if (IsStrong(s.encryption) && (s.strong_flags & 0x0002))
    if (StatusCode code = SetUpRecipients(password, DirectoryCipher(s), state)) return code;
  return kOk;
}

// A packed directory that names recipients or is signed starts with the archive extra
// data record.
bool StartDirectoryBlock(DirectoryBlock& block, const ZipArchiveState& state) {
  if (state.cd_flags == 0 || (state.recipient_list_length == 0 && state.signing_flags == 0)) return true;
  uint8_t* room = block.Room(kMaxArchiveExtraData);
  if (room == nullptr) return false;
  block.Advance(ArchiveExtraData(room, state));
  return true;
}

// The frame both exports share up to the work: options, paths converted by the caller,
// the progress window, the password, the generator seeded.
StatusCode OpenCall(frame::CallFrame& frame, const PackSettings& s, const char* password_argument,
                    const char16_t* archive, const char16_t* base, const char16_t* name, Password& password) {
  if (frame.progress() && ui::ProgressOpen(1, 1, kTextPacking, archive, base, name) != 0)
    return ConditionCode(Cls::Cancelled, kBody, 0x01);
  bool ask = s.encryption != kNoEncryption && (frame.flags() & frame::CallFrame::kFlagAskPassword);
  if (StatusCode code = password.Take(password_argument, ask, ConditionCode(Cls::Cancelled, kBody, 0x02)))
    return code;
  // Demanded encryption under the empty password would only look encrypted.
  if (s.demand && password.empty()) return ConditionCode(Cls::PasswordProblem, kBody, 0x03);
  return s.encryption != kNoEncryption ? frame::GatherEntropy() : kOk;
}

// The names a wildcard path matches, each folder followed by everything below it; the
// archive itself is left out.
StatusCode CollectNames(const char16_t* base, const char16_t* pattern, const char16_t* archive,
                        frame::NameBuffer& names, uint32_t& count) {
  frame::FolderWalk walk(base, u'/');
  platform::DirSearch finder;
  platform::FindData found;
  if (StatusCode code =
          walk.Start(pattern, archive, finder, found, SystemCode(SysCall::FindFirstFile, kBody, 0x00)))
    return code;
  auto add = [&](const std::u16string& name, const platform::FindData&) -> StatusCode {
    if (!names.Append(name.c_str(), name.size())) return ConditionCode(Cls::NothingToDo, kBody, 0x01);
    ++count;
    return kOk;
  };
  do {
    if (walk.IsLeftOut(found)) continue;
    size_t length = found.name.length();
    if (length + 1 >= platform::kWidePathUnits) return ConditionCode(Cls::NameLength, kBody, 0x01);
    if (!names.Append(found.name.c_str(), length)) return ConditionCode(Cls::NoMemoryGrow, kBody, 0x01);
    ++count;
    if (found.attributes & platform::kAttrDirectory)
      if (StatusCode code = walk.Descend(found.name.c_str(), found, add)) return code;
  } while (finder.Next(found));
  return kOk;
}

}  // namespace

StatusCode zip_pack1(void* parent, const char* archive, const char* source, const char* password,
                     const uint32_t* options) {
  if (options == nullptr) return ConditionCode(Cls::BadArgument, kBody, 0x00);
  CertificateChoiceScope choice;
  return frame::RunExport(parent, options[1], [&](frame::CallFrame& frame) -> StatusCode {
    platform::ZoneHold zone;  // DOS stamps are converted with the zone read once
    frame::Wiped<ZipEntryInfo> entry_holder;
    frame::Wiped<ZipArchiveState> state_holder;
    ZipEntryInfo& entry = *entry_holder;
    ZipArchiveState& state = *state_holder;
    Password pass;
    PackSettings s;
    if (StatusCode code = ReadOptions(options, s)) return code;
    WidePath archive_path, source_path, base, name;
    if (StatusCode code = frame::ToWidePath(archive, archive_path)) return code;
    if (StatusCode code = frame::ToWidePath(source, source_path)) return code;
    if (StatusCode code = frame::SplitSourcePath(source_path.c_str(), base, name)) return code;
    if (StatusCode code =
            OpenCall(frame, s, password, archive_path.c_str(), base.c_str(), name.c_str(), pass))
      return code;

    std::u16string full = std::u16string(base.c_str()) + name.c_str();
    platform::FileInfo found;
    if (!platform::GetFileInfo(full.c_str(), found)) return SystemCode(SysCall::GetFileAttributes, 0, 0x00);
    if (found.attributes & platform::kAttrDirectory) return ConditionCode(Cls::NoDirectory, 0, 0x00);
    // The archive replaces its file only at the end; packing that file into it would lose it.
    if (platform::SameFile(full.c_str(), archive_path.c_str()))
      return SystemCode(SysCall::CreateFile, 0, 0x00);
    entry.name = name;
    SetUpEntry(s, found, entry);
    Signer signer;
    if (StatusCode code = StartCertificates(frame, s, pass, signer, state)) return code;

    MemberWriter w;
    DirectoryBlock block;
    std::unique_ptr<uint8_t[]> header(new (std::nothrow) uint8_t[kPackBlock]);
    if (!header || !w.Allocate(platform::WorkerThreads(2)) || !block.Reserve(kPackBlock)) return ConditionCode(Cls::NoMemory, 0, 0x01);
    w.flags = frame.flags();
    w.password = &pass;
    w.state = &state;
    w.signer = &signer;
    if (!StartDirectoryBlock(block, state)) return ConditionCode(Cls::NoMemoryGrow, 0, 0x03);
    if (!w.archive.Create(archive_path.c_str())) return SystemCode(SysCall::CreateFile, 0, 0x00);
    size_t local_length = 0;
    if (StatusCode code = WriteFirstHeader(w, state.cd_flags, entry, header.get(), local_length, 0x01))
      return code;
    if (entry.uncompressed_size != 0 || (state.signing_flags & 2))
      if (StatusCode code = PackMember(w, full.c_str(), entry)) return code;

    size_t length = WriteCentralHeader(header.get(), 0, entry, state);
    if (!block.Append(header.get(), length)) return ConditionCode(Cls::NoMemoryGrow, 0, 0x01);
    state.cd_offset = local_length + entry.compressed_size;
    state.entry_count = 1;
    if (StatusCode code =
            FinishArchive(w, s, block, entry, state, 0x02, 0x04, ConditionCode(Cls::NoMemory, 0, 0x02),
                          ConditionCode(Cls::NoMemoryGrow, 0, 0x02)))
      return code;
    if (NeedsRewrite(entry))
      if (StatusCode code =
              RewriteHeader(w, state.cd_flags, entry, 0, local_length, header.get(), 0x00, 0x03))
        return code;
    return w.archive.Commit() ? kOk : SystemCode(SysCall::CloseHandle, 0, 0x00);
  });
}

StatusCode zip_pack2(void* parent, const char* archive, const char* source, const char* password,
                     const uint32_t* options) {
  if (options == nullptr) return ConditionCode(Cls::BadArgument, kBody, 0x00);
  CertificateChoiceScope choice;
  return frame::RunExport(parent, options[1], [&](frame::CallFrame& frame) -> StatusCode {
    platform::ZoneHold zone;  // DOS stamps are converted with the zone read once
    frame::Wiped<ZipEntryInfo> entry_holder;
    frame::Wiped<ZipArchiveState> state_holder;
    ZipEntryInfo& entry = *entry_holder;
    ZipArchiveState& state = *state_holder;
    Password pass;
    frame::NameBuffer names;
    if (!names.Reserve(frame::NameBuffer::kGrowUnits)) return ConditionCode(Cls::NoMemory, 0, 0x01);
    PackSettings s;
    if (StatusCode code = ReadOptions(options, s)) return code;
    WidePath archive_path, source_path, base, pattern;
    if (StatusCode code = frame::ToWidePath(archive, archive_path)) return code;
    if (StatusCode code = frame::ToWidePath(source, source_path)) return code;
    uint32_t count = 0;
    const bool list_mode = options[14] != 0;
    // The archive replaces its file only at the end; a list of that name would be lost.
    if (list_mode && platform::SameFile(source_path.c_str(), archive_path.c_str()))
      return SystemCode(SysCall::CreateFile, 0, 0x00);
    if (list_mode) {
      if (StatusCode code = frame::ReadListFile(source_path.c_str(), base, count, names)) return code;
    } else if (StatusCode code = frame::SplitSourcePath(source_path.c_str(), base, pattern)) {
      return code;
    }
    if (StatusCode code = OpenCall(frame, s, password, archive_path.c_str(), base.c_str(), nullptr, pass))
      return code;
    if (!list_mode)
      if (StatusCode code = CollectNames(base.c_str(), pattern.c_str(), archive_path.c_str(), names, count))
        return code;
    if (count == 0) return ConditionCode(Cls::NothingToDo, 0, 0x02);
    Signer signer;
    if (StatusCode code = StartCertificates(frame, s, pass, signer, state)) return code;

    const unsigned threads = platform::WorkerThreads(2);
    MemberWriter w;
    std::unique_ptr<uint8_t[]> header(new (std::nothrow) uint8_t[kPackBlock]);
    if (!header || !w.Allocate(threads)) return ConditionCode(Cls::NoMemory, 0, 0x04);
    w.flags = frame.flags();
    w.password = &pass;
    w.state = &state;
    w.signer = &signer;
    DirectoryBlock block;
    if (!block.Reserve(kDirectoryGrow)) return ConditionCode(Cls::NoMemory, 0, 0x02);
    if (!StartDirectoryBlock(block, state)) return ConditionCode(Cls::NoMemoryGrow, 0, 0x03);
    if (!w.archive.Create(archive_path.c_str())) return SystemCode(SysCall::CreateFile, 0, 0x00);
    platform::File& file = w.archive.file();

    platform::FileInfo archive_info;
    const bool archive_exists = platform::GetFileInfo(archive_path.c_str(), archive_info);
    // A second thread packs members ahead into bounded buffers; the archive is the same.
    std::mutex draws;
    MemberWriter helper;
    PackAhead ahead;
    if (count > 1 && threads > 1 && helper.Allocate(1)) {
      helper.password = &pass;
      helper.state = &state;
      helper.signer = w.signer;  // signing only reads the key: members sign on either thread
      helper.draws = w.draws = &draws;
      helper.stop = ahead.quitting();
      const uint32_t masking = state.cd_flags;
      auto work = [&, masking](AheadSlot& slot, bool on_helper) {
        ZipEntryInfo& e = *slot.entry;
        slot.code = PrepareMember(s, base, slot.name, archive_exists, archive_info, e, slot.full, slot.kind);
        if (slot.code != kOk || slot.kind != kDataMember) return;
        // Compressed data may outgrow its input a little; the estimate holds the cipher's part.
        const uint64_t estimate = e.compressed_size;
        if (estimate + e.uncompressed_size / 64 + 1024 > PackAhead::kSlotData) return;
        e.local_zip64 = false;
        const size_t first = WriteLocalHeader(slot.header.get(), masking, e);
        SlotOutput out(slot.data.get(), PackAhead::kSlotData);
        StatusCode code = PackMemberTo(on_helper ? helper : w, out, slot.full.c_str(), e, false);
        if (out.overflowed()) {  // the writer packs it after all
          e.compressed_size = estimate;
          e.crc32 = 0;
          return;
        }
        if (code != kOk) {
          slot.code = code;
          return;
        }
        slot.header_length = first;
        if (NeedsRewrite(e)) {
          slot.header_length = WriteLocalHeader(slot.header.get(), masking, e);
          if (slot.header_length != first) {
            slot.code = SystemCode(SysCall::WriteFile, kBody, 0x04);
            return;
          }
        }
        slot.data_length = out.used();
        slot.packed = true;
      };
      if (!ahead.Start(names.data(), count, work)) w.draws = nullptr;
    }

    uint64_t offset = 0;
    uint32_t written = 0;
    const char16_t* name = names.data();
    WidePath full;
    for (uint32_t index = 1; index <= count; ++index, name += platform::Utf16Length(name) + 1) {
      if (frame.progress() && ui::ProgressOpen(index, count, kTextPacking, nullptr, nullptr, name) != 0)
        return ConditionCode(Cls::Cancelled, 0, 0x03);
      uint32_t kind = kSkipped;
      size_t local_length = 0;
      AheadSlot* slot = ahead.running() ? ahead.Take(index) : nullptr;
      if (slot != nullptr) {
        if (slot->code != kOk) return slot->code;
        entry = *slot->entry;
        kind = slot->kind;
        full = slot->full;
        if (slot->packed) {
          if (frame.progress())
            if (StatusCode code = ReplayProgress(entry.uncompressed_size)) return code;
          if (!file.Write(slot->header.get(), slot->header_length))
            return SystemCode(SysCall::WriteFile, kBody, 0x03);
          if (!file.Write(slot->data.get(), slot->data_length))
            return SystemCode(SysCall::WriteFile, place::kPackMember, 0x04);
          local_length = slot->header_length;
          kind = kSkipped;  // written
        }
        ahead.Release();
        if (kind == kSkipped && local_length == 0) continue;
      } else {
        if (StatusCode code = PrepareMember(s, base, name, archive_exists, archive_info, entry, full, kind))
          return code;
        if (kind == kSkipped) continue;
      }

      if (kind == kFolderMember) {
        if (StatusCode code = WriteFirstHeader(w, state.cd_flags, entry, header.get(), local_length, 0x01))
          return code;
      } else if (kind == kEmptyMember) {
        if (StatusCode code = WriteFirstHeader(w, state.cd_flags, entry, header.get(), local_length, 0x02))
          return code;
        if (state.signing_flags & 2)
          if (StatusCode code = PackMember(w, full.c_str(), entry)) return code;
      } else if (kind == kDataMember) {
        if (StatusCode code = WriteFirstHeader(w, state.cd_flags, entry, header.get(), local_length, 0x03))
          return code;
        if (StatusCode code = PackMember(w, full.c_str(), entry)) return code;
        if (NeedsRewrite(entry)) {
          if (StatusCode code =
                  RewriteHeader(w, state.cd_flags, entry, offset, local_length, header.get(), 0x01, 0x04))
            return code;
          if (!file.Seek(0, platform::SeekFrom::End)) return SystemCode(SysCall::SetFilePointer, 0, 0x02);
        }
      }
      size_t length = WriteCentralHeader(header.get(), offset, entry, state);
      if (!block.Append(header.get(), length)) return ConditionCode(Cls::NoMemoryGrow, 0, 0x02);
      offset += local_length + entry.compressed_size;
      ++written;
    }

    if (written == 0) return ConditionCode(Cls::NothingToDo, 0, 0x02);
    state.entry_count = written;
    state.cd_offset = offset;
    if (StatusCode code =
            FinishArchive(w, s, block, entry, state, 0x05, 0x07, ConditionCode(Cls::NoMemory, 0, 0x03),
                          ConditionCode(Cls::NoMemoryGrow, 0, 0x04)))
      return code;
    return w.archive.Commit() ? kOk : SystemCode(SysCall::CloseHandle, 0, 0x00);
  });
}

}  // namespace tx::zip
