#include "frame/output_tree.h"

#include "frame/paths.h"
#include "platform/fs.h"
#include "platform/text.h"

namespace tx::frame {

namespace {

using platform::Beneath;
using platform::SysCall;

size_t FolderLength(const char16_t* relative, size_t& name_start) {
  size_t length = platform::Utf16Length(relative);
  size_t slash = length;
  while (slash > 0 && relative[slash - 1] != u'/') --slash;
  name_start = slash;
  return slash;
}

StatusCode BeneathCode(Beneath result, uint8_t place) {
  switch (result) {
    case Beneath::Ok: return kOk;
    case Beneath::Link: return ConditionCode(Cls::NotADirectory, place, 0x02);
    case Beneath::NotADirectory: return ConditionCode(Cls::NotADirectory, place, 0x01);
    default: return SystemCode(SysCall::CreateDirectory, place, 0x01);
  }
}

}  // namespace

StatusCode OutputTree::Open(const char16_t* folder) {
  DiscardAll();
  cached_.reset();
  cached_path_.clear();
  // Files are given permissions against the umask of this call, read once for all of them.
  platform::RereadUmask();
  if (root_.use_count() > 1) root_ = std::make_shared<platform::Directory>();
  if (!root_->Open(folder)) return ConditionCode(Cls::NoDirectory, kPlaceOutputDirectory, 0x01);
  return kOk;
}

StatusCode OutputTree::Folder(const char16_t* relative, bool create,
                              const std::shared_ptr<platform::Directory>*& folder, const char16_t*& name,
                              uint8_t place) {
  size_t name_start;
  size_t length = FolderLength(relative, name_start);
  name = relative + name_start;
  if (length == 0) {
    folder = &root_;
    return kOk;
  }
  if (cached_ == nullptr || !cached_->IsOpen() ||
      cached_path_.compare(0, std::u16string::npos, relative, length) != 0) {
    cached_path_.clear();
    if (cached_ == nullptr || cached_.use_count() > 1) cached_ = std::make_shared<platform::Directory>();
    if (StatusCode code =
            BeneathCode(platform::OpenBeneath(*root_, relative, length, create, *cached_), place))
      return code;
    cached_path_.assign(relative, length);
  }
  folder = &cached_;
  return kOk;
}

StatusCode OutputTree::CreateFile(const char16_t* relative, OutputFile& out, StatusCode create_failure) {
  const std::shared_ptr<platform::Directory>* folder;
  const char16_t* name;
  if (StatusCode code = Folder(relative, true, folder, name, kPlaceParentDirectories)) return code;
  return out.Create(*folder, name) ? kOk : create_failure;
}

StatusCode OutputTree::MakeFolder(const char16_t* relative, platform::FileTime creation,
                                  platform::FileTime last_write) {
  constexpr uint8_t kPlace = kPlaceDirectoryEntry;
  size_t length = platform::Utf16Length(relative);
  while (length > 0 && relative[length - 1] == u'/') --length;
  platform::Directory dir;
  if (StatusCode code = BeneathCode(platform::OpenBeneath(*root_, relative, length, true, dir), kPlace))
    return code;
  if (last_write != 0) {
    platform::FileTime now;
    if (!dir.GetWriteTime(now)) return SystemCode(SysCall::GetFileTime, kPlace, 0x01);
    if (now != last_write && !dir.SetWriteTime(last_write))
      return SystemCode(SysCall::SetFileTime, kPlace, creation != 0 ? 0x02 : 0x01);
  }
  return kOk;
}

StatusCode OutputTree::Defer(OutputFile& out, const char16_t* relative, uint32_t attributes) {
  Deferred item;
  size_t name_start;
  item.folder.assign(relative, FolderLength(relative, name_start));
  if (!out.Detach(attributes, item.names)) return SystemCode(SysCall::CloseHandle, kPlacePublish, 0x01);
  deferred_.push_back(std::move(item));
  return kOk;
}

StatusCode OutputTree::PublishAll() {
  platform::Directory folder;
  std::u16string open_path;
  bool have = false;
  for (size_t i = 0; i < deferred_.size(); ++i) {
    const Deferred& item = deferred_[i];
    if (!have || open_path != item.folder) {
      have = false;
      if (platform::OpenBeneath(*root_, item.folder.c_str(), item.folder.size(), false, folder) !=
          Beneath::Ok) {
        deferred_.erase(deferred_.begin(), deferred_.begin() + static_cast<long>(i));
        return SystemCode(SysCall::CreateDirectory, kPlacePublish, 0x01);
      }
      open_path = item.folder;
      have = true;
    }
    if (!platform::Publish(folder, item.names)) {
      platform::RemovePending(folder, item.names);
      deferred_.erase(deferred_.begin(), deferred_.begin() + static_cast<long>(i + 1));
      return SystemCode(SysCall::MoveFile, kPlacePublish, 0x01);
    }
  }
  deferred_.clear();
  return kOk;
}

void OutputTree::DiscardAll() {
  platform::Directory folder;
  for (const Deferred& item : deferred_) {
    if (platform::OpenBeneath(*root_, item.folder.c_str(), item.folder.size(), false, folder) == Beneath::Ok)
      platform::RemovePending(folder, item.names);
  }
  deferred_.clear();
}

}  // namespace tx::frame
