#include "frame/folder_walk.h"

#include "platform/fs.h"

namespace tx::frame {

namespace {

const StatusCode kWalkFailed = ConditionCode(Cls::NothingToDo, place::kExportBody, 0x01);

}  // namespace

void FolderWalk::LeaveOut(const char16_t* path) {
  leave_out_ =
      platform::GetFileInfo(path, left_out_) && (left_out_.attributes & platform::kAttrDirectory) == 0;
}

bool FolderWalk::IsLeftOut(const platform::FileInfo& found) const {
  return leave_out_ && platform::IsSameFile(found, left_out_);
}

StatusCode FolderWalk::Start(const char16_t* pattern, const char16_t* archive, platform::DirSearch& finder,
                             platform::FindData& found, StatusCode not_found) {
  std::u16string search = base_ + pattern;
  while (!search.empty() && search.back() == u'/') search.pop_back();
  LeaveOut(archive);
  platform::FileInfo base_info;
  if (platform::GetFileInfo(base_.c_str(), base_info)) Enter(base_info);
  const StatusCode bad_name = SystemCode(platform::SysCall::MultiByteToWide, kPlaceFolderWalk, 0x01);
  if (!finder.First(search.c_str(), found))
    return finder.invalid_names() != 0 && !finder.unreadable() ? bad_name : not_found;
  return finder.invalid_names() != 0 ? bad_name : kOk;
}

bool FolderWalk::Enter(const platform::FileInfo& folder) {
  return entered_.insert({folder.device, folder.inode}).second;
}

StatusCode FolderWalk::Descend(const std::u16string& name, const platform::FindData& folder,
                               const Visit& visit) {
  if (!Enter(folder)) return kOk;
  std::u16string prefix = name.empty() ? name : name + separator_;
  std::u16string path = base_;
  for (char16_t c : prefix) path += c == separator_ ? u'/' : c;
  if (path.size() + 1 >= platform::kWidePathUnits) return kWalkFailed;
  platform::DirSearch search;
  platform::FindData found;
  if (!search.First((path + u'*').c_str(), found)) {
    if (search.unreadable()) return SystemCode(platform::SysCall::FindFirstFile, kPlaceFolderWalk, 0x01);
    if (search.invalid_names() != 0)
      return SystemCode(platform::SysCall::MultiByteToWide, kPlaceFolderWalk, 0x01);
    return kOk;  // empty
  }
  if (search.invalid_names() != 0)
    return SystemCode(platform::SysCall::MultiByteToWide, kPlaceFolderWalk, 0x01);
  do {
    if (IsLeftOut(found)) continue;
    std::u16string entry = prefix + found.name.c_str();
    if (entry.size() + 1 >= platform::kWidePathUnits) return kWalkFailed;
    if (StatusCode code = visit(entry, found)) return code;
    if (found.attributes & platform::kAttrDirectory)
      if (StatusCode code = Descend(entry, found, visit)) return code;
  } while (search.Next(found));
  return kOk;
}

}  // namespace tx::frame
