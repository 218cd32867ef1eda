#include "svz/svz_unpack.h"

#include <cstring>
#include <memory>
#include <vector>

#include "frame/call_frame.h"
#include "frame/names.h"
#include "frame/output_file.h"
#include "frame/output_tree.h"
#include "frame/paths.h"
#include "frame/unix_mode.h"
#include "platform/fs.h"
#include "svz/svz_decode.h"
#include "svz/svz_open.h"
#include "ui/progress.h"
#include "ui/prompts.h"

namespace tx::svz {

namespace {

using platform::SysCall;
using platform::WidePath;

constexpr uint32_t kAskOverwrite = frame::CallFrame::kFlagAskOverwrite;
constexpr uint32_t kAskPassword = frame::CallFrame::kFlagAskPassword;
constexpr uint32_t kAskOnError = frame::CallFrame::kFlagAskOnError;
constexpr size_t kSingleTargetLimit = 260;

StatusCode Cancelled(uint8_t occurrence) { return ConditionCode(Cls::Cancelled, 0, occurrence); }

// The classes after which the user may choose to go on with the next entry.
bool CanGoOn(StatusCode code) {
  switch (ClassOf(code) >> 16) {
    case 0x30:
    case 0x31:
    case 0x32:
    case 0x33:
    case 0x43:
    case 0x61: return true;
    default: return false;
  }
}

struct Session {
  WidePath archive, directory;
  frame::OutputTree tree;
  ReaderSecrets secrets;
  OpenedArchive a;
  DecodeBuffers buffers;
  uint32_t flags = 0;
  bool progress = false, demand = false;
};

StatusCode OpenSession(Session& s, frame::CallFrame& frame, const char* archive, const char* directory,
                       const char* password, const uint32_t* options, bool single) {
  s.flags = frame.flags();
  s.progress = frame.progress();
  s.demand = options[0] != 0;
  WidePath directory_argument;
  if (StatusCode code = frame::ToWidePath(archive, s.archive)) return code;
  if (directory != nullptr && directory[0] != 0 &&
      !platform::Utf8ToUtf16(directory, directory_argument.units, platform::kWidePathUnits))
    return SystemCode(SysCall::MultiByteToWide, 0, 0x00);
  if (StatusCode code =
          frame::ResolveOutputDirectory(directory_argument.c_str(), s.archive.c_str(), s.directory))
    return code;
  if (StatusCode code = s.tree.Open(s.directory.c_str())) return code;
  if (s.progress && ui::ProgressOpen(1, 1, 3003, s.archive.c_str(), s.directory.c_str(), nullptr) != 0)
    return Cancelled(0x01);
  s.secrets.password.Set(password);
  s.secrets.ask = s.flags & kAskPassword;
  s.secrets.progress = s.progress;
  ReadOptions read;
  read.single = single;
  read.demand_encryption = s.demand;
  read.open_failure = SystemCode(SysCall::CreateFile, 0, single ? 0x00 : 0x01);
  read.password_conversion = SystemCode(SysCall::MultiByteToWide, 0, single ? 0x04 : 0x03);
  if (StatusCode code = OpenArchive(s.archive.c_str(), read, s.secrets, s.a)) return code;
  if (!s.buffers.Allocate()) return ConditionCode(Cls::NoMemory, 0, 0x05);
  return kOk;
}

// Output folder + entry name (checked already).
void Target(const WidePath& directory, const char16_t* name, WidePath& target) {
  size_t dir_length = directory.length(), name_length = platform::Utf16Length(name);
  std::memcpy(target.units, directory.units, dir_length * sizeof(char16_t));
  std::memcpy(target.units + dir_length, name, name_length * sizeof(char16_t));
  target.units[dir_length + name_length] = 0;
}

bool ExistsAsFile(const char16_t* target) {
  platform::FileInfo existing;
  return platform::GetFileInfo(target, existing) && !(existing.attributes & platform::kAttrDirectory);
}

uint32_t Attributes(const EntryInfo& e) {
  return e.attributes_defined ? e.attributes : platform::kAttrArchive;
}

// Bit 0x8000 of the attribute word: its high 16 bits hold the st_mode of a Unix writer.
uint32_t UnixMode(const EntryInfo& e) {
  constexpr uint32_t kUnixExtension = 0x8000;
  if (!e.attributes_defined || !(e.attributes & kUnixExtension)) return frame::kNoUnixMode;
  return frame::UnixModeOfHighBits(e.attributes);
}

// The entries of one call: which are wanted, and the files being written.
class Extraction : public StreamReceiver {
 public:
  Extraction(Session& s, bool single) : s_(s), single_(single) {}

  // Checks every name before anything is written.
  StatusCode Prepare(const char16_t* pattern) {
    const ArchiveIndex& index = s_.a.index;
    selected_.assign(index.entries.size(), false);
    owner_.assign(index.streams.size(), 0);
    const char16_t* refused = single_ ? frame::kRefusedSingleName : frame::kRefusedEntryName;
    for (size_t i = 0; i < index.entries.size(); ++i) {
      const EntryInfo& e = index.entries[i];
      const char16_t* name = index.name(e);
      if (StatusCode code = frame::CheckName(name, refused)) return code;
      size_t length = s_.directory.length() + platform::Utf16Length(name);
      if (single_ ? length >= kSingleTargetLimit : length >= platform::kWidePathUnits)
        return ConditionCode(Cls::NameLength, 0, single_ ? 0x02 : 0x00);
      selected_[i] = frame::MatchPattern(pattern, name);
      if (e.kind == EntryKind::kData) owner_[e.stream] = static_cast<uint32_t>(i);
    }
    return kOk;
  }

  // Progress and the overwrite question for entry `i`; `wanted` false when skipped.
  StatusCode Ask(size_t i, bool& wanted) {
    const EntryInfo& e = s_.a.index.entries[i];
    wanted = true;
    Target(s_.directory, s_.a.index.name(e), target_);
    ++count_;
    if (s_.progress && ui::ProgressOpen(count_, static_cast<uint32_t>(s_.a.index.entries.size()), 3003,
                                        nullptr, nullptr, target_.c_str()) != 0)
      return Cancelled(0x03);
    if (e.kind == EntryKind::kDirectory || !(s_.flags & kAskOverwrite) || !ExistsAsFile(target_.c_str()))
      return kOk;
    int answer = ui::OverwritePrompt(target_.c_str(), e.mtime);
    if (answer == 2 && !single_) wanted = false;
    if (answer == 3 || (answer == 2 && single_)) return Cancelled(0x04);
    if (answer == 5) s_.flags &= ~kAskOverwrite;
    return kOk;
  }

  StatusCode EmptyFile(size_t i) {
    const EntryInfo& e = s_.a.index.entries[i];
    frame::OutputFile out;
    if (StatusCode code =
            s_.tree.CreateFile(s_.a.index.name(e), out, SystemCode(SysCall::CreateFile, 0, 0x02)))
      return code;
    return Close(out, e);
  }

  StatusCode Folder(uint32_t folder) {
    const ArchiveIndex& index = s_.a.index;
    const FolderInfo& f = index.folders[folder];
    bool any = false;
    for (uint32_t k = 0; k < f.streams; ++k) any = any || selected_[owner_[f.first_stream + k]];
    if (!any) return kOk;
    current_ = owner_[f.first_stream];
    Target(s_.directory, index.name(index.entries[current_]), target_);
    const bool aes = f.coder.chain_flags & kChainAes;
    if (s_.demand && !aes) return ConditionCode(Cls::PasswordProblem, 0, 0x02);
    StatusCode code = CheckDecodable(f, index);
    const uint8_t* key = nullptr;
    if (code == kOk && aes)
      code = s_.secrets.Key(f.coder, Cancelled(0x05),
                            SystemCode(SysCall::MultiByteToWide, 0, single_ ? 0x04 : 0x05), key);
    if (code == kOk)
      code = DecodeFolder(s_.a.file, s_.a.base + f.pack_offset, index, folder, key, s_.buffers, *this);
    out_.reset();  // a file cut short goes with its temporary name
    return code;
  }

  // Whether a failure of entry extraction may be passed over.
  bool GoOn(StatusCode code) {
    return !single_ && (s_.flags & kAskOnError) && CanGoOn(code) &&
           ui::ErrorNotice(target_.c_str(), code) == 1;
  }

  StatusCode Begin(uint32_t stream, bool& wanted) override {
    current_ = owner_[stream];
    wanted = selected_[current_];
    if (wanted)
      if (StatusCode code = Ask(current_, wanted)) return code;
    if (!wanted) return kOk;
    out_ = std::make_unique<frame::OutputFile>();
    const EntryInfo& e = s_.a.index.entries[current_];
    return s_.tree.CreateFile(s_.a.index.name(e), *out_, SystemCode(SysCall::CreateFile, 0, 0x03));
  }

  StatusCode Write(const uint8_t* data, size_t size) override {
    return out_->file().Write(data, size) ? kOk : SystemCode(SysCall::WriteFile, 0, 0x01);
  }

  StatusCode Finish(uint32_t) override {
    StatusCode code = Close(*out_, s_.a.index.entries[current_]);
    out_.reset();
    return code;
  }

  StatusCode Progress(uint64_t done, uint64_t total) override {
    if (!s_.progress) return kOk;
    uint32_t percent = static_cast<uint32_t>(static_cast<unsigned __int128>(done) * 100 / total);
    return ui::ProgressUpdate(percent) != 0 ? Cancelled(0x06) : kOk;
  }

  const std::vector<bool>& selected() const { return selected_; }

 private:
  StatusCode Close(frame::OutputFile& out, const EntryInfo& e) {
    if (e.mtime_defined && !out.file().SetWriteTime(e.mtime))
      return SystemCode(SysCall::SetFileTime, 0, 0x01);
    if (!out.Commit(Attributes(e), UnixMode(e))) return SystemCode(SysCall::CloseHandle, 0, 0x01);
    return kOk;
  }

  Session& s_;
  bool single_;
  std::vector<bool> selected_;
  std::vector<uint32_t> owner_;  // the entry of each unpack stream
  std::unique_ptr<frame::OutputFile> out_;
  size_t current_ = 0;
  uint32_t count_ = 0;
  WidePath target_;
};

// Entries in archive order; a folder is decoded at its first entry. Folders' times are
// set last, once their contents no longer change them.
StatusCode ExtractAll(Session& s, const char16_t* pattern) {
  Extraction x(s, false);
  if (StatusCode code = x.Prepare(pattern)) return code;
  const ArchiveIndex& index = s.a.index;
  std::vector<size_t> folders;
  for (size_t i = 0; i < index.entries.size(); ++i) {
    const EntryInfo& e = index.entries[i];
    StatusCode code = kOk;
    if (e.kind == EntryKind::kData) {
      uint32_t folder = index.streams[e.stream].folder;
      if (index.folders[folder].first_stream != e.stream) continue;
      code = x.Folder(folder);
    } else {
      if (!x.selected()[i]) continue;
      bool wanted;
      if (StatusCode asked = x.Ask(i, wanted)) return asked;
      if (!wanted) continue;
      if (e.kind == EntryKind::kDirectory) {
        code = s.tree.MakeFolder(index.name(e), 0, 0);
        folders.push_back(i);
      } else {
        code = x.EmptyFile(i);
      }
    }
    if (code != kOk && !x.GoOn(code)) return code;
  }
  for (size_t i : folders) {
    const EntryInfo& e = index.entries[i];
    if (StatusCode code = s.tree.MakeFolder(index.name(e), e.ctime, e.mtime_defined ? e.mtime : 0))
      return code;
  }
  return kOk;
}

StatusCode UnpackMany(void* parent, const char* archive, const char* directory, const char* filter,
                      const char* password, const uint32_t* options, bool solid) {
  if (options == nullptr) return ConditionCode(Cls::BadArgument, 0, 0x00);
  return frame::RunExport(parent, options[1], [&](frame::CallFrame& frame) -> StatusCode {
    Session s;
    WidePath pattern;
    if (filter != nullptr && filter[0] != 0 &&
        !platform::Utf8ToUtf16(filter, pattern.units, platform::kWidePathUnits))
      return SystemCode(SysCall::MultiByteToWide, 0, 0x02);
    if (StatusCode code = OpenSession(s, frame, archive, directory, password, options, false)) return code;
    if (!solid && s.a.index.folders.size() != s.a.index.streams.size())
      return ConditionCode(Cls::ArchiveDamaged, 0, 0x00);
    return ExtractAll(s, pattern.c_str());
  });
}

}  // namespace

StatusCode svz_unpack1(void* parent, const char* archive, const char* directory, const char* password,
                       const uint32_t* options) {
  if (options == nullptr) return ConditionCode(Cls::BadArgument, 0, 0x00);
  return frame::RunExport(parent, options[1], [&](frame::CallFrame& frame) -> StatusCode {
    Session s;
    if (StatusCode code = OpenSession(s, frame, archive, directory, password, options, true)) return code;
    const ArchiveIndex& index = s.a.index;
    if (index.entries.size() != 1 || index.folders.size() > 1) return ConditionCode(cls::kHeader, 0, 0x1f);
    const EntryInfo& e = index.entries[0];
    if (e.kind == EntryKind::kDirectory) return ConditionCode(cls::kHeader, 0, 0x20);
    Extraction x(s, true);
    if (StatusCode code = x.Prepare(u"")) return code;
    if (e.kind == EntryKind::kEmptyFile) {
      bool wanted;
      if (StatusCode code = x.Ask(0, wanted)) return code;
      return x.EmptyFile(0);
    }
    return x.Folder(0);
  });
}

StatusCode svz_unpack2(void* parent, const char* archive, const char* directory, const char* filter,
                       const char* password, const uint32_t* options) {
  return UnpackMany(parent, archive, directory, filter, password, options, false);
}

StatusCode svz_unpack3(void* parent, const char* archive, const char* directory, const char* filter,
                       const char* password, const uint32_t* options) {
  return UnpackMany(parent, archive, directory, filter, password, options, true);
}

}  // namespace tx::svz
