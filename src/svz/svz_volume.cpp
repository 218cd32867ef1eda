#include "svz/svz_volume.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "frame/call_frame.h"
#include "frame/file_copy.h"
#include "frame/output_file.h"
#include "frame/paths.h"
#include "frame/volume_set.h"
#include "platform/directory.h"
#include "platform/file.h"
#include "platform/fs.h"
#include "platform/replacement.h"
#include "ui/progress.h"

namespace tx::svz {

namespace {

using platform::SysCall;
using platform::WidePath;

constexpr size_t kSuffixUnits = 4;  // ".001"

std::u16string VolumeName(const WidePath& directory, const WidePath& name, uint32_t number) {
  char digits[16];
  std::snprintf(digits, sizeof digits, ".%03lu", static_cast<unsigned long>(number));
  std::u16string path = directory.c_str();
  path += name.c_str();
  for (const char* p = digits; *p; ++p) path += static_cast<char16_t>(*p);
  return path;
}

// Volume copies: failed or short read 0x01030000, failed write 0x01040000, cancel 0x00900003.
const frame::FileCopier::Codes kCopyCodes{SystemCode(SysCall::ReadFile, 0, 0x00),
                                          SystemCode(SysCall::WriteFile, 0, 0x00),
                                          ConditionCode(Cls::Cancelled, 0, 0x03)};
bool Percent(bool progress, uint64_t left, uint64_t whole) {
  return progress && ui::ProgressUpdate(static_cast<uint32_t>(100 - left * 100 / whole)) != ui::kProgressGoOn;
}

// The volumes of a split, written under temporary names. None takes its name before all are
// complete, so an older set of that name stays whole until the new one replaces it; unless
// kept, the volumes of this call are removed again.
class PendingVolumes {
 public:
  explicit PendingVolumes(platform::Directory& dir) : dir_(dir) {}
  ~PendingVolumes() {
    for (const platform::PendingName& volume : pending_) platform::RemovePending(dir_, volume);
    for (const std::u16string& path : published_) platform::DeleteFile(path.c_str());
  }

  void Add(platform::PendingName volume, std::u16string path) {
    pending_.push_back(std::move(volume));
    paths_.push_back(std::move(path));
  }
  // Renames every pending volume onto its name; the last one, still open in `last`, is
  // flushed and goes after them, flushing the folder's entries with it.
  bool Publish(platform::Replacement& last, std::u16string last_path) {
    for (size_t i = 0; i < pending_.size(); ++i) {
      if (!platform::Publish(dir_, pending_[i])) {
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<ptrdiff_t>(i));
        return false;
      }
      published_.push_back(std::move(paths_[i]));
    }
    pending_.clear();
    if (!last.Commit(true)) return false;
    published_.push_back(std::move(last_path));
    return true;
  }
  void Keep() { published_.clear(); }

 private:
  platform::Directory& dir_;
  std::vector<platform::PendingName> pending_;
  std::vector<std::u16string> paths_, published_;
};

}  // namespace

StatusCode svz_split(void* parent, const char* path, const char* directory, const uint32_t* options) {
  if (options == nullptr) return ConditionCode(Cls::BadArgument, 0, 0x00);
  return frame::RunExport(parent, options[0], [&](frame::CallFrame& frame) -> StatusCode {
    const uint64_t volume_size = options[2];
    if (volume_size < 1024) return ConditionCode(Cls::BadOption, 0, 0x02);
    WidePath source, dir_arg, dir, name;
    if (StatusCode code = frame::ToWidePath(path, source)) return code;
    if (StatusCode code =
            frame::OptionalPath(directory, dir_arg, SystemCode(SysCall::MultiByteToWide, 0, 0x00)))
      return code;
    if (StatusCode code = frame::ResolveVolumeName(dir_arg.c_str(), source.c_str(), dir, name, false))
      return code;
    if (dir.length() + name.length() + kSuffixUnits >= platform::kWidePathUnits)
      return ConditionCode(Cls::NameLength, 0, 0x00);
    const bool progress = frame.progress();
    if (progress && ui::ProgressOpen(1, 1, 3005, source.c_str(), u"", u"") != ui::kProgressGoOn)
      return ConditionCode(Cls::Cancelled, 0, 0x01);

    platform::File in;
    if (!in.Open(source.c_str(), platform::Access::Read, platform::Disposition::OpenExisting, true))
      return SystemCode(SysCall::CreateFile, 0, 0x01);
    uint64_t size;
    if (!in.Size(size)) return SystemCode(SysCall::GetFileSize, 0, 0x00);
    const uint64_t count = size <= volume_size ? 1 : (size + volume_size - 1) / volume_size;
    if (count > kMaxVolumes) return ConditionCode(Cls::VolumeCount, 0, 0x00);

    platform::Directory folder;
    if (!folder.Open(dir.c_str())) return SystemCode(SysCall::CreateFile, 0, 0x02);
    PendingVolumes volumes(folder);
    // Each volume is on disk before its name says it is complete. Its writing starts as soon
    // as it is copied and is waited for only once the next one is copied too, so the disk
    // and the copying overlap.
    platform::Replacement outs[2];
    frame::FileCopier copier;
    if (!copier.Allocate()) return ConditionCode(Cls::NoMemory, 0, 0x01);
    uint64_t rest = size;
    for (uint32_t number = 1; number <= count; ++number) {
      platform::Replacement& out = outs[number % 2];
      platform::Replacement& previous = outs[(number + 1) % 2];
      std::u16string volume = VolumeName(dir, name, number);
      if (progress && ui::ProgressOpen(number, static_cast<uint32_t>(count), 3005, nullptr, nullptr,
                                       volume.c_str()) != ui::kProgressGoOn)
        return ConditionCode(Cls::Cancelled, 0, 0x02);
      if (!out.Create(folder, volume.c_str() + dir.length())) return SystemCode(SysCall::CreateFile, 0, 0x02);
      const uint64_t slice = std::min(rest, volume_size);
      // The percent is of the volume size, so a short last volume starts above 0.
      StatusCode code = copier.Copy(in, out.file(), slice, kCopyCodes, [&](uint64_t done) {
        return Percent(progress, slice - done, volume_size);
      });
      if (code) return code;
      rest -= slice;
      out.file().StartWriteback();
      if (previous.IsOpen()) {
        if (!previous.file().Flush()) return SystemCode(SysCall::WriteFile, 0, 0x00);
        platform::PendingName pending;
        if (!previous.Detach(pending)) return SystemCode(SysCall::CloseHandle, 0, 0x01);
        volumes.Add(std::move(pending), VolumeName(dir, name, number - 1));
      }
    }
    if (!in.Close()) return SystemCode(SysCall::CloseHandle, 0, 0x02);
    if (!volumes.Publish(outs[count % 2], VolumeName(dir, name, static_cast<uint32_t>(count))))
      return SystemCode(SysCall::CloseHandle, 0, 0x01);
    auto name_of = [&](uint32_t number) { return VolumeName(dir, name, number); };
    if (StatusCode code =
            frame::RemoveVolumesBeyond(name_of, static_cast<uint32_t>(count), kMaxVolumes, source.c_str(),
                                       SystemCode(SysCall::DeleteFile, 0, 0x00)))
      return code;
    volumes.Keep();
    if (options[1] != 0) platform::DeleteFile(source.c_str());
    return kOk;
  });
}

StatusCode svz_join(void* parent, const char* path, const char* directory, const uint32_t* options) {
  if (options == nullptr) return ConditionCode(Cls::BadArgument, 0, 0x00);
  return frame::RunExport(parent, options[0], [&](frame::CallFrame& frame) -> StatusCode {
    WidePath given, dir_arg, dir, name;
    if (StatusCode code = frame::ToWidePath(path, given)) return code;
    if (StatusCode code =
            frame::OptionalPath(directory, dir_arg, SystemCode(SysCall::MultiByteToWide, 0, 0x00)))
      return code;
    if (StatusCode code = frame::ResolveVolumeName(dir_arg.c_str(), given.c_str(), dir, name, true))
      return code;
    if (dir.length() + name.length() + kSuffixUnits >= platform::kWidePathUnits)
      return ConditionCode(Cls::NameLength, 0, 0x00);
    std::u16string target = dir.c_str();
    target += name.c_str();
    const bool progress = frame.progress();
    if (progress && ui::ProgressOpen(1, 1, 3005, target.c_str(), u"", u"") != ui::kProgressGoOn)
      return ConditionCode(Cls::Cancelled, 0, 0x01);

    // The set runs from .001 to the first missing number; a volume beyond that gap means
    // the set is incomplete, and joining up to it would make a short file.
    auto name_of = [&](uint32_t number) { return VolumeName(dir, name, number); };
    uint32_t after_last = frame::FirstMissingVolume(name_of, 1, kMaxVolumes);
    const uint32_t count = after_last == 0 ? kMaxVolumes : after_last - 1;
    if (count == 0 ||
        (after_last != 0 && frame::FirstPresentVolume(name_of, after_last + 1, kMaxVolumes) != 0))
      return ConditionCode(Cls::VolumeCount, 0, 0x00);

    frame::OutputFile out;
    if (!out.Create(target.c_str())) return SystemCode(SysCall::CreateFile, 0, 0x00);
    frame::FileCopier copier;
    if (!copier.Allocate()) return ConditionCode(Cls::NoMemory, 0, 0x01);
    for (uint32_t number = 1; number <= count; ++number) {
      std::u16string volume = name_of(number);
      if (progress &&
          ui::ProgressOpen(number, count, 3005, nullptr, nullptr, volume.c_str()) != ui::kProgressGoOn)
        return ConditionCode(Cls::Cancelled, 0, 0x02);
      // A counted volume that cannot be read fails the join: what was joined is not the file.
      platform::File in;
      if (!in.Open(volume.c_str(), platform::Access::Read, platform::Disposition::OpenExisting, true))
        return SystemCode(SysCall::CreateFile, 0, 0x01);
      uint64_t size;
      if (!in.Size(size)) return SystemCode(SysCall::GetFileSize, 0, 0x00);
      StatusCode code = copier.Copy(in, out.file(), size, kCopyCodes,
                                    [&](uint64_t done) { return Percent(progress, size - done, size); });
      if (code) return code;
      if (!in.Close()) return SystemCode(SysCall::CloseHandle, 0, 0x01);
    }
    // Flushed, then renamed over an older file of the name; the volumes go only after that.
    if (!out.Commit()) return SystemCode(SysCall::CloseHandle, 0, 0x02);
    if (options[1] != 0)
      for (uint32_t number = 1; number <= count; ++number)
        if (!platform::DeleteFile(name_of(number).c_str())) break;
    return kOk;
  });
}

}  // namespace tx::svz
