#include "pea/pea_volume.h"

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "frame/call_frame.h"
#include "frame/output_file.h"
#include "frame/volume_set.h"
#include "pea/pea_format.h"
#include "platform/file.h"
#include "platform/fs.h"
#include "ui/progress.h"
#include "ui/prompts.h"

namespace tx::pea {

namespace {

using platform::SysCall;
using platform::WidePath;

constexpr size_t kCopyPiece = 65536;
constexpr size_t kLongestSuffix = 11;  // ".000001.pea"


bool Assign(WidePath& out, const std::u16string& text) {
  if (text.size() >= platform::kWidePathUnits) return false;
  std::char_traits<char16_t>::copy(out.units, text.c_str(), text.size() + 1);
  return true;
}

bool EndsWithIgnoringCase(const std::u16string& text, const char16_t* suffix) {
  size_t n = platform::Utf16Length(suffix);
  if (text.size() < n) return false;
  for (size_t i = 0; i < n; ++i) {
    char16_t a = text[text.size() - n + i], b = suffix[i];
    if (a >= u'A' && a <= u'Z') a = static_cast<char16_t>(a - u'A' + u'a');
    if (a != b) return false;
  }
  return true;
}

std::u16string VolumeName(const WidePath& directory, const WidePath& base, uint32_t number) {
  char digits[16];
  std::snprintf(digits, sizeof digits, ".%06lu.pea", static_cast<unsigned long>(number));
  std::u16string name = directory.c_str();
  name += base.c_str();
  for (const char* p = digits; *p; ++p) name += static_cast<char16_t>(*p);
  return name;
}

// Copies `size` bytes from `in` to `out` through the volume check, reporting the percentage
// of `size` done.
StatusCode CopyBytes(platform::File& in, platform::File& out, uint64_t size, uint8_t* buffer, bool progress,
                     uint8_t algorithm, PeaCheckState& check) {
  for (uint64_t done = 0; done < size;) {
    size_t n = size - done < kCopyPiece ? static_cast<size_t>(size - done) : kCopyPiece;
    if (!in.Read(buffer, n)) return SystemCode(SysCall::ReadFile, 0, 0x00);
    done += n;
    if (progress && ui::ProgressUpdate(static_cast<uint32_t>(done * 100 / size)) != 0)
      return ConditionCode(Cls::Cancelled, 0, 0x03);
    pea_check_update(buffer, n, algorithm, check);
    if (!out.Write(buffer, n)) return SystemCode(SysCall::WriteFile, 0, 0x01);
  }
  return kOk;
}

StatusCode WriteTag(platform::File& out, uint8_t algorithm, PeaCheckState& check) {
  uint8_t tag[kMaxCheckSize];
  size_t size = pea_check_final(algorithm, tag, check);
  return size == 0 || out.Write(tag, size) ? kOk : SystemCode(SysCall::WriteFile, 0, 0x02);
}

// A volume or joined archive is on disk before anything that depends on it happens (the
// source deleted, the volumes deleted); a failed flush counts as a failed write.
StatusCode FlushAndCommit(frame::OutputFile& out, uint8_t close_occurrence) {
  if (!out.file().Flush()) return SystemCode(SysCall::WriteFile, 0, 0x03);
  return out.Commit() ? kOk : SystemCode(SysCall::CloseHandle, 0, close_occurrence);
}

}  // namespace

StatusCode pea_volume_names(const char16_t* directory, const char16_t* path, WidePath& out_directory,
                            WidePath& out_base) {
  std::u16string dir;
  std::u16string text = path;
  size_t sep = text.find_last_of(u"/\\");
  if (directory != nullptr && *directory != 0) {
    platform::FileInfo info;
    if (!platform::GetFileInfo(directory, info) || !(info.attributes & platform::kAttrDirectory))
      return ConditionCode(Cls::NoDirectory, place::kVolumeNames, 0x01);
    dir = directory;
  } else if (sep != std::u16string::npos) {
    dir = text.substr(0, sep + 1);
  } else {
    WidePath current;
    if (!platform::CurrentDirectory(current)) return SystemCode(SysCall::GetCurrentDirectory, place::kVolumeNames, 0x01);
    dir = current.c_str();
  }
  for (char16_t& c : dir)
    if (c == u'\\') c = u'/';
  if (dir.empty() || dir.back() != u'/') dir += u'/';
  std::u16string base = sep == std::u16string::npos ? text : text.substr(sep + 1);
  if (base.empty()) return ConditionCode(Cls::BadName, place::kVolumeNames, 0x01);
  if (EndsWithIgnoringCase(base, u".pea")) base.resize(base.size() - 4);
  if (base.size() >= 7 && base[base.size() - 7] == u'.') {
    bool digits = true;
    for (size_t i = base.size() - 6; i < base.size(); ++i) digits = digits && base[i] >= u'0' && base[i] <= u'9';
    if (digits) base.resize(base.size() - 7);
  }
  if (!Assign(out_directory, dir) || !Assign(out_base, base))
    return ConditionCode(Cls::NameLength, place::kVolumeNames, 0x01);
  return kOk;
}

StatusCode pea_split(void* parent, const char* archive, const char* directory, const uint32_t* options) {
  if (options == nullptr) return ConditionCode(Cls::BadArgument, 0, 0x00);
  uint32_t flags = options[0];
  return frame::RunExport(parent, flags, [&](frame::CallFrame& frame) -> StatusCode {
    if (options[2] < 1024) return ConditionCode(Cls::BadOption, 0, 0x02);
    WidePath archive_path, dir_arg, dir, base;
    if (StatusCode code = frame::ToWidePath(archive, archive_path)) return code;
    if (StatusCode code =
            frame::OptionalPath(directory, dir_arg, SystemCode(SysCall::MultiByteToWide, 0, 0x00)))
      return code;
    if (StatusCode code = pea_volume_names(dir_arg.c_str(), archive_path.c_str(), dir, base)) return code;
    if (dir.length() + base.length() + kLongestSuffix >= platform::kWidePathUnits)
      return ConditionCode(Cls::NameLength, 0, 0x00);
    if (frame.progress() && ui::ProgressOpen(1, 1, 3005, archive_path.c_str(), nullptr, nullptr) != 0)
      return ConditionCode(Cls::Cancelled, 0, 0x01);

    platform::File in;
    if (!in.Open(archive_path.c_str(), platform::Access::Read, platform::Disposition::OpenExisting, true))
      return SystemCode(SysCall::CreateFile, 0, 0x01);
    uint64_t size;
    if (!in.Size(size)) return SystemCode(SysCall::GetFileSize, 0, 0x00);
    uint8_t header[kKeyHeaderSize];
    PeaArchiveInfo info;
    if (StatusCode code = pea_read_header(in, header, info)) return code;
    auto algorithm = static_cast<uint8_t>(info.volume_algorithm);
    uint64_t tag = CheckSize(algorithm);
    uint64_t data = size > tag ? size - tag : 0;
    uint64_t per_volume = options[2] - tag;
    uint64_t count = data <= per_volume ? 1 : (data + per_volume - 1) / per_volume;
    if (count > kMaxVolumes) return ConditionCode(Cls::VolumeCount, 0, 0x00);
    if (!in.Seek(0, platform::SeekFrom::Begin)) return SystemCode(SysCall::SetFilePointer, 0, 0x01);
    // An archive named like one of its own volumes would be overwritten while it is read.
    for (uint32_t number = 1; number <= count; ++number)
      if (platform::SameFile(VolumeName(dir, base, number).c_str(), archive_path.c_str()))
        return ConditionCode(Cls::BadName, 0, 0x01);

    // Every volume made so far goes again if a later one fails.
    auto buffer = std::make_unique<uint8_t[]>(kCopyPiece);
    std::vector<std::u16string> made;
    auto discard = [&made](StatusCode code) {
      for (const std::u16string& name : made) platform::DeleteFile(name.c_str());
      return code;
    };
    uint64_t rest = data;
    for (uint32_t number = 1; number <= count; ++number) {
      std::u16string name = VolumeName(dir, base, number);
      if (frame.progress() &&
          ui::ProgressOpen(number, static_cast<uint32_t>(count), 3005, nullptr, nullptr, name.c_str()) != 0)
        return discard(ConditionCode(Cls::Cancelled, 0, 0x02));
      frame::OutputFile out;
      if (!out.Create(name.c_str())) return discard(SystemCode(SysCall::CreateFile, 0, 0x02));
      made.push_back(name);
      PeaCheckState check;
      pea_check_init(algorithm, check);
      uint64_t slice = rest < per_volume ? rest : per_volume;
      if (StatusCode code = CopyBytes(in, out.file(), slice, buffer.get(), frame.progress(), algorithm, check))
        return discard(code);
      if (StatusCode code = WriteTag(out.file(), algorithm, check)) return discard(code);
      if (StatusCode code = FlushAndCommit(out, 0x01)) return discard(code);
      rest -= slice;
    }
    if (!in.Close()) return discard(SystemCode(SysCall::CloseHandle, 0, 0x02));
    auto name_of = [&](uint32_t number) { return VolumeName(dir, base, number); };
    if (StatusCode code = frame::RemoveVolumesBeyond(name_of, static_cast<uint32_t>(count), kMaxVolumes,
                                                     archive_path.c_str(),
                                                     SystemCode(SysCall::DeleteFile, 0, 0x01)))
      return discard(code);
    if (options[1] != 0) platform::DeleteFile(archive_path.c_str());
    return kOk;
  });
}

StatusCode pea_join(void* parent, const char* path, const char* directory, const uint32_t* options) {
  if (options == nullptr) return ConditionCode(Cls::BadArgument, 0, 0x00);
  uint32_t flags = options[0];
  return frame::RunExport(parent, flags, [&](frame::CallFrame& frame) -> StatusCode {
    WidePath given, dir_arg, dir, base;
    if (StatusCode code = frame::ToWidePath(path, given)) return code;
    if (StatusCode code =
            frame::OptionalPath(directory, dir_arg, SystemCode(SysCall::MultiByteToWide, 0, 0x00)))
      return code;
    if (StatusCode code = pea_volume_names(dir_arg.c_str(), given.c_str(), dir, base)) return code;
    if (dir.length() + base.length() + kLongestSuffix >= platform::kWidePathUnits)
      return ConditionCode(Cls::NameLength, 0, 0x00);
    std::u16string joined = std::u16string(dir.c_str()) + base.c_str() + u".pea";
    if (frame.progress() && ui::ProgressOpen(1, 1, 3005, joined.c_str(), nullptr, nullptr) != 0)
      return ConditionCode(Cls::Cancelled, 0, 0x01);

    uint32_t count = 0;
    for (platform::FileInfo info; count < kMaxVolumes && platform::GetFileInfo(VolumeName(dir, base, count + 1).c_str(), info);)
      ++count;
    if (count == 0 || count == kMaxVolumes) return ConditionCode(Cls::VolumeCount, 0, 0x01);

    platform::File in;
    if (!in.Open(VolumeName(dir, base, 1).c_str(), platform::Access::Read, platform::Disposition::OpenExisting, true))
      return SystemCode(SysCall::CreateFile, 0, 0x01);
    uint64_t size;
    if (!in.Size(size)) return SystemCode(SysCall::GetFileSize, 0, 0x01);
    uint8_t header[kKeyHeaderSize];
    PeaArchiveInfo info;
    if (StatusCode code = pea_read_header(in, header, info)) return code;
    info.block_size = kCopyPiece;
    if (!in.Seek(0, platform::SeekFrom::Begin)) return SystemCode(SysCall::SetFilePointer, 0, 0x01);

    frame::OutputFile out;
    if (!out.Create(joined.c_str())) return SystemCode(SysCall::CreateFile, 0, 0x02);
    auto algorithm = static_cast<uint8_t>(info.volume_algorithm);
    PeaCheckState joined_check, volume_check;
    uint64_t tag = pea_check_init(algorithm, joined_check);
    auto buffer = std::make_unique<uint8_t[]>(kCopyPiece);
    for (uint32_t number = 1; number <= count; ++number) {
      std::u16string name = VolumeName(dir, base, number);
      if (frame.progress() && ui::ProgressOpen(number, count, 3005, nullptr, nullptr, name.c_str()) != 0)
        return ConditionCode(Cls::Cancelled, 0, 0x02);
      if (algorithm != kCheckNone) {
        StatusCode code = pea_verify_volume(in, size, frame.progress() ? 1 : 0, buffer.get(), info, volume_check);
        bool mismatch = (ClassOf(code) >> 16) == MismatchClass(algorithm);
        if (code != kOk && !(mismatch && (frame.flags() & frame::CallFrame::kFlagAskOnError) &&
                             ui::ErrorNotice(name.c_str(), code) == 1))
          return code;
        if (!in.Seek(0, platform::SeekFrom::Begin)) return SystemCode(SysCall::SetFilePointer, 0, 0x02);
      }
      if (size <= tag) return ConditionCode(Cls::VolumeCount, 0, 0x02);
      if (StatusCode code = CopyBytes(in, out.file(), size - tag, buffer.get(), frame.progress(), algorithm, joined_check))
        return code;
      if (!in.Close()) return SystemCode(SysCall::CloseHandle, 0, 0x01);
      if (number == count) break;
      // A counted volume that cannot be opened would leave a short archive: the join fails.
      if (!in.Open(VolumeName(dir, base, number + 1).c_str(), platform::Access::Read,
                   platform::Disposition::OpenExisting, true))
        return SystemCode(SysCall::CreateFile, 0, 0x03);
      if (!in.Size(size)) return SystemCode(SysCall::GetFileSize, 0, 0x02);
    }
    if (StatusCode code = WriteTag(out.file(), algorithm, joined_check)) return code;
    if (StatusCode code = FlushAndCommit(out, 0x02)) return code;
    // Only a complete join that is on disk lets the volumes go.
    if (options[1] != 0)
      for (uint32_t number = 1; number <= count; ++number)
        if (!platform::DeleteFile(VolumeName(dir, base, number).c_str())) break;
    return kOk;
  });
}

}  // namespace tx::pea
