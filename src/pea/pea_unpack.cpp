#include "pea/pea_unpack.h"

#include <cstring>
#include <string>

#include "frame/bytes.h"
#include "frame/call_frame.h"
#include "frame/names.h"
#include "frame/output_file.h"
#include "frame/paths.h"
#include "pea/pea_open.h"
#include "platform/fs.h"
#include "ui/progress.h"
#include "ui/prompts.h"

namespace tx::pea {

namespace {

using platform::SysCall;
using platform::WidePath;

// Streams protected by a MAC: their files are kept only once the whole stream has
// authenticated, since an object check alone can be forged under a counter-mode cipher.
bool Authenticated(const PeaArchiveInfo& info) {
  return IsEncryptionMode(static_cast<uint8_t>(info.stream_algorithm));
}

bool CanGoOn(StatusCode code) {
  switch (ClassOf(code)) {
    case 0x00310000:
    case 0x00420000:
    case 0x00610000:
    case 0x00620000: return true;
    default: return false;
  }
}

// Reads a u32 length field through the stream protection.
StatusCode ReadField(PeaObjectReader& r, uint32_t& value, bool object, StatusCode on_error) {
  uint8_t field[4];
  if (StatusCode code = pea_read_protected(r.file, field, 4, r.info, r.levels, object, on_error)) return code;
  value = frame::LoadU32(field);
  return kOk;
}

// Reads the object tag and compares it with the check (when `compare` is set).
StatusCode ReadTag(PeaObjectReader& r, bool compare, StatusCode on_read_error, uint8_t where, uint8_t occurrence) {
  auto object = static_cast<uint8_t>(r.info.object_algorithm);
  uint8_t computed[kMaxCheckSize], stored[kMaxCheckSize];
  size_t size = pea_check_final(object, computed, r.levels.object);
  if (size == 0) return kOk;
  if (StatusCode code = pea_read_protected(r.file, stored, size, r.info, r.levels, false, on_read_error)) return code;
  if (compare && std::memcmp(computed, stored, size) != 0) return MakeCode(0, MismatchClass(object), where, occurrence);
  return kOk;
}

// Reads past blocks (or stored pieces) worth `remaining` content bytes, then the tag.
StatusCode SkipData(PeaObjectReader& r, uint64_t remaining, uint64_t& packed, uint8_t where) {
  bool progress = r.flags & 1;
  uint64_t size = remaining;
  while (remaining > 0) {
    uint32_t stored;
    if (r.info.compression != 0) {
      if (StatusCode code = ReadField(r, stored, false, SystemCode(SysCall::ReadFile, where, 0x01))) return code;
      if (stored == 0 || stored > r.info.block_size) return MakeCode(0, 0x7A, where, 0x01);
      packed += 4 + uint64_t{stored};
    } else {
      stored = static_cast<uint32_t>(remaining < r.info.block_size ? remaining : r.info.block_size);
      packed += stored;
    }
    if (StatusCode code = pea_read_protected(r.file, r.data, stored, r.info, r.levels, false,
                                             SystemCode(SysCall::ReadFile, where, 0x02)))
      return code;
    uint64_t block = r.info.compression == 0 ? stored : r.info.block_size;
    if (r.info.compression != 0 && remaining <= r.info.block_size) {
      uint32_t last;
      if (StatusCode code = ReadField(r, last, false, SystemCode(SysCall::ReadFile, where, 0x03))) return code;
      if (last != remaining) return MakeCode(0, 0x7A, where, 0x02);
      block = remaining;
    }
    remaining -= block < remaining ? block : remaining;
    if (progress && ui::ProgressUpdate(static_cast<uint32_t>(100 - remaining * 100 / size)) != 0)
      return ConditionCode(Cls::Cancelled, where, 0x01);
  }
  pea_check_init(static_cast<uint8_t>(r.info.object_algorithm), r.levels.object);  // the tag is read, not compared
  return ReadTag(r, false, SystemCode(SysCall::ReadFile, where, 0x04), where, 0);
}

// The name a stored entry is extracted under: checked, and reduced to its last component
// when it is absolute.
bool IsAbsolute(const char16_t* name) {
  return (name[0] != 0 && name[1] == u':' && name[2] == u'\\') || (name[0] == u'\\' && name[1] == u'\\');
}

// A stored name with the platform separator.
std::u16string Relative(const std::u16string& name) {
  std::u16string relative = name;
  for (char16_t& c : relative)
    if (c == u'\\') c = u'/';
  return relative;
}

std::u16string Target(const WidePath& directory, const std::u16string& name) {
  return directory.c_str() + Relative(name);
}

bool StartsWithIgnoringCase(const std::u16string& text, const std::u16string& prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    char16_t a = text[i], b = prefix[i];
    if (a >= u'A' && a <= u'Z') a = static_cast<char16_t>(a + 32);
    if (b >= u'A' && b <= u'Z') b = static_cast<char16_t>(b + 32);
    if (a != b) return false;
  }
  return true;
}

// Splits a stored name at its last "\" or "/": the folder part with its separator, and the rest.
void SplitStored(const std::u16string& name, std::u16string& folder, std::u16string& last) {
  std::u16string trimmed = name;
  bool is_folder = !trimmed.empty() && trimmed.back() == u'\\';
  if (is_folder) trimmed.pop_back();
  size_t sep = trimmed.find_last_of(u"\\/");
  folder = sep == std::u16string::npos ? u"" : trimmed.substr(0, sep + 1);
  last = sep == std::u16string::npos ? trimmed : trimmed.substr(sep + 1);
  if (is_folder) last += u'\\';
}

struct Session {
  frame::OutputTree tree;
  PeaReader reader;
  std::unique_ptr<uint8_t[]> data, output;
  BlockInflater inflater;
};

StatusCode Open(Session& s, frame::CallFrame& frame, const char* archive, const char* directory, const char* key_file,
                const char* password, const uint32_t* options, VolumeMismatch on_mismatch, WidePath& archive_path,
                WidePath& out_dir) {
  if (!Allocate(s.data, kPeaBlockSize)) return ConditionCode(Cls::NoMemory, 0, 0x01);
  if (!Allocate(s.output, kPeaBlockSize)) return ConditionCode(Cls::NoMemory, 0, 0x02);
  WidePath key_path, dir_arg;
  if (StatusCode code = frame::ToWidePath(archive, archive_path)) return code;
  if (StatusCode code = OptionalPath(key_file, key_path, SystemCode(SysCall::MultiByteToWide, 0, 0x01))) return code;
  if (StatusCode code = OptionalPath(directory, dir_arg, SystemCode(SysCall::MultiByteToWide, 0, 0x02))) return code;
  if (StatusCode code = frame::ResolveOutputDirectory(dir_arg.c_str(), archive_path.c_str(), out_dir)) return code;
  if (StatusCode code = s.tree.Open(out_dir.c_str())) return code;
  if (frame.progress() && ui::ProgressOpen(1, 1, 3003, archive_path.c_str(), out_dir.c_str(), nullptr) != 0)
    return ConditionCode(Cls::Cancelled, 0, 0x01);
  if (!s.inflater.Init()) return ConditionCode(Cls::CoderInit, 0, 0x00);
  PeaOpenRequest request{archive_path.c_str(), password, key_path.c_str(), frame.flags(), options[0] != 0, on_mismatch};
  return pea_open_archive(request, s.reader, s.data, &s.output);
}

}  // namespace

StatusCode pea_skip_object(PeaObjectReader& r, uint64_t& packed, const PeaObjectEntry& entry) {
  packed = 0;
  return SkipData(r, entry.size, packed, place::kSkipObject);
}

StatusCode pea_skip_rest(PeaObjectReader& r, uint64_t remaining, const PeaObjectEntry&) {
  uint64_t packed = 0;
  return SkipData(r, remaining, packed, place::kSkipRest);
}

StatusCode pea_unpack_object(PeaObjectReader& r, frame::OutputTree& tree, const char16_t* relative,
                             const PeaObjectEntry& entry, bool defer) {
  constexpr uint8_t kPlace = place::kUnpackObject;
  frame::OutputFile out;
  if (StatusCode code = tree.CreateFile(relative, out, SystemCode(SysCall::CreateFile, kPlace, 0x01))) return code;
  auto object = static_cast<uint8_t>(r.info.object_algorithm);
  bool compressed = r.info.compression != 0;
  for (uint64_t remaining = entry.size; remaining > 0;) {
    uint32_t stored;
    if (compressed) {
      if (StatusCode code = ReadField(r, stored, true, SystemCode(SysCall::ReadFile, kPlace, 0x01))) return code;
      if (stored == 0 || stored > r.info.block_size) return MakeCode(0, 0x7A, kPlace, 0x01);
    } else {
      stored = static_cast<uint32_t>(remaining < r.info.block_size ? remaining : r.info.block_size);
    }
    if (StatusCode code = pea_read_protected(r.file, r.data, stored, r.info, r.levels, !compressed,
                                             SystemCode(SysCall::ReadFile, kPlace, 0x02)))
      return code;
    const uint8_t* content = r.data;
    size_t length = stored;
    if (compressed) {
      size_t expected = r.info.block_size;
      bool last = remaining <= r.info.block_size;
      uint32_t final_length = 0;
      if (last) {
        uint8_t field[4];
        if (StatusCode code = pea_read_protected(r.file, field, 4, r.info, r.levels, false,
                                                 SystemCode(SysCall::ReadFile, kPlace, 0x03)))
          return code;
        final_length = frame::LoadU32(field);
        if (final_length != remaining) return MakeCode(0, 0x7A, kPlace, 0x02);
        expected = static_cast<size_t>(remaining);
      }
      if (stored != expected) {
        long produced = r.inflater.Inflate(r.data, stored, r.output, expected);
        if (produced < 0 || static_cast<size_t>(produced) != expected) {
          if (StatusCode code = pea_skip_rest(r, last ? 0 : remaining - expected, entry)) return code;
          return ConditionCode(Cls::CoderFailed, kPlace, 0x01);
        }
        content = r.output;
      }
      length = expected;
      pea_check_update(content, length, object, r.levels.object);
      if (last) {
        uint8_t field[4];
        frame::StoreU32(field, final_length);
        pea_check_update(field, 4, object, r.levels.object);
      }
    }
    remaining -= length;
    if ((r.flags & 1) && ui::ProgressUpdate(static_cast<uint32_t>(100 - remaining * 100 / entry.size)) != 0)
      return ConditionCode(Cls::Cancelled, kPlace, 0x01);
    if (!out.file().Write(content, length)) return SystemCode(SysCall::WriteFile, kPlace, 0x01);
  }
  if (StatusCode code = ReadTag(r, true, SystemCode(SysCall::ReadFile, kPlace, 0x05), kPlace, 0x01)) return code;
  if (!out.file().SetWriteTime(entry.last_write)) return SystemCode(SysCall::SetFileTime, kPlace, 0x01);
  if (defer) return tree.Defer(out, relative, entry.attributes);
  if (!out.Commit(entry.attributes)) return SystemCode(SysCall::CloseHandle, kPlace, 0x01);
  return kOk;
}

StatusCode pea_unpack1(void* parent, const char* archive, const char* directory, const char* password,
                       const char* key_file, const uint32_t* options) {
  if (options == nullptr) return ConditionCode(Cls::BadArgument, 0, 0x00);
  return frame::RunExport(parent, options[1], [&](frame::CallFrame& frame) -> StatusCode {
    Session s;
    WidePath archive_path, out_dir;
    if (StatusCode code = Open(s, frame, archive, directory, key_file, password, options, VolumeMismatch::Fail,
                               archive_path, out_dir))
      return code;
    PeaReader& reader = s.reader;
    PeaObjectReader r{reader.file, reader.info, reader.levels, s.data.get(), s.output.get(), s.inflater,
                      frame.flags()};
    PeaObjectEntry entry;
    pea_check_init(static_cast<uint8_t>(reader.info.object_algorithm), reader.levels.object);
    if (StatusCode code = pea_read_object(reader.file, reader.info, reader.levels, entry)) return code;
    if (StatusCode code = frame::CheckName(entry.name.c_str(), frame::kRefusedPeaPath)) return code;
    if (entry.IsFolder()) return ConditionCode(Cls::NoDirectory, 0, 0x00);
    std::u16string name = entry.name.c_str();
    if (IsAbsolute(entry.name.c_str())) {
      std::u16string folder;
      SplitStored(name, folder, name);
    }
    std::u16string target = Target(out_dir, name);
    if (target.size() >= platform::kWidePathUnits) return ConditionCode(Cls::NameLength, 0, 0x01);
    if (frame.progress() && ui::ProgressOpen(1, 1, 3003, nullptr, nullptr, name.c_str()) != 0)
      return ConditionCode(Cls::Cancelled, 0, 0x03);
    if (frame.flags() & frame::CallFrame::kFlagAskOverwrite) {
      int answer = ui::OverwritePrompt(target.c_str(), entry.last_write);
      if (answer == 2 || answer == 3) return ConditionCode(Cls::Cancelled, 0, 0x04);
    }
    const bool defer = Authenticated(reader.info);
    if (StatusCode code = pea_unpack_object(r, s.tree, Relative(name).c_str(), entry, defer)) return code;
    PeaObjectEntry next;
    StatusCode code = pea_read_object(reader.file, reader.info, reader.levels, next);
    if (code != MakeCode(0, 0x7A, place::kRead, 0x21)) return code;
    if (StatusCode trailer = pea_read_trailer(reader.file, reader.info, reader.levels)) return trailer;
    return s.tree.PublishAll();
  });
}

StatusCode pea_unpack2(void* parent, const char* archive, const char* directory, const char* filter,
                       const char* password, const char* key_file, const uint32_t* options) {
  if (options == nullptr) return ConditionCode(Cls::BadArgument, 0, 0x00);
  return frame::RunExport(parent, options[1], [&](frame::CallFrame& frame) -> StatusCode {
    uint32_t flags = frame.flags();
    bool ask_on_error = flags & frame::CallFrame::kFlagAskOnError;
    Session s;
    WidePath archive_path, out_dir, pattern;
    if (StatusCode code = OptionalPath(filter, pattern, SystemCode(SysCall::MultiByteToWide, 0, 0x03))) return code;
    if (StatusCode code = Open(s, frame, archive, directory, key_file, password, options,
                               ask_on_error ? VolumeMismatch::Ask : VolumeMismatch::Fail, archive_path, out_dir))
      return code;
    PeaReader& reader = s.reader;
    PeaObjectReader r{reader.file, reader.info, reader.levels, s.data.get(), s.output.get(), s.inflater, flags};
    std::u16string base;
    bool have_base = false;
    const bool defer = Authenticated(reader.info);
    for (uint32_t index = 1;; ++index) {
      PeaObjectEntry entry;
      pea_check_init(static_cast<uint8_t>(reader.info.object_algorithm), reader.levels.object);
      StatusCode code = pea_read_object(reader.file, reader.info, reader.levels, entry);
      if (code == MakeCode(0, 0x7A, place::kRead, 0x21)) break;
      if (code != kOk) return code;
      if (StatusCode check = frame::CheckName(entry.name.c_str(), frame::kRefusedPeaPath)) return check;

      // Names stored with an absolute base lose it, so everything lands under the target.
      std::u16string name = entry.name.c_str();
      if (index == 1) {
        if (IsAbsolute(name.c_str())) SplitStored(name, base, name), have_base = true;
      } else if (have_base) {
        if (StartsWithIgnoringCase(name, base)) {
          name.erase(0, base.size());
        } else {
          SplitStored(name, base, name);
        }
      }
      std::u16string target = Target(out_dir, name);
      if (target.size() >= platform::kWidePathUnits) return ConditionCode(Cls::NameLength, 0, 0x01);
      if (!target.empty() && target.back() == u'/') target.pop_back();

      uint64_t packed;
      if (!pattern.empty() && !frame::MatchPattern(pattern.c_str(), name.c_str())) {
        if (StatusCode skip = pea_skip_object(r, packed, entry)) return skip;
        continue;
      }
      if (frame.progress() && ui::ProgressOpen(index, 0, 3003, nullptr, nullptr, name.c_str()) != 0)
        return ConditionCode(Cls::Cancelled, 0, 0x02);
      if (flags & frame::CallFrame::kFlagAskOverwrite) {
        platform::FileInfo existing;
        if (platform::GetFileInfo(target.c_str(), existing) && !(existing.attributes & platform::kAttrDirectory)) {
          int answer = ui::OverwritePrompt(target.c_str(), entry.last_write);
          if (answer == 2) {
            if (StatusCode skip = pea_skip_object(r, packed, entry)) return skip;
            continue;
          }
          if (answer == 3) return ConditionCode(Cls::Cancelled, 0, 0x03);
          if (answer == 5) flags &= ~frame::CallFrame::kFlagAskOverwrite;
        }
      }
      StatusCode result;
      if (!entry.IsFolder()) {
        result = pea_unpack_object(r, s.tree, Relative(name).c_str(), entry, defer);
      } else {
        result = ReadTag(r, true, SystemCode(SysCall::ReadFile, 0, 0x03), 0, 0x01);
        if (result == kOk) {
          if (StatusCode made = s.tree.MakeFolder(Relative(name).c_str(), 0, entry.last_write))
            return made;
        }
      }
      if (result != kOk) {
        if (!(ask_on_error && CanGoOn(result) && ui::ErrorNotice(target.c_str(), result) == 1)) return result;
      }
    }
    StatusCode code = pea_read_trailer(reader.file, reader.info, reader.levels);
    // Files of a stream that failed to authenticate are not kept, whatever the user says:
    // their checks could have been forged along with their content.
    bool forged = defer && ClassOf(code) == ClassOf(ConditionCode(Cls::AuthFailed, 0, 0));
    if (code != kOk && !(ask_on_error && !forged && CanGoOn(code) && ClassOf(code) != 0x00310000 &&
                         ui::ErrorNotice(archive_path.c_str(), code) == 1))
      return code;
    return s.tree.PublishAll();
  });
}

}  // namespace tx::pea
