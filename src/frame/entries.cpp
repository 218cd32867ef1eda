#include "frame/entries.h"

#include <cstddef>

#include "platform/file.h"
#include "platform/fs.h"
#include "platform/text.h"

namespace tx::frame {

namespace {

constexpr size_t kNone = static_cast<size_t>(-1);

size_t LastOf(const char16_t* text, size_t size, char16_t c) {
  for (size_t i = size; i > 0; --i) {
    if (text[i - 1] == c) return i - 1;
  }
  return kNone;
}

// Copies `path` into `out`; false when it does not fit a path buffer.
bool CopyPath(const char16_t* path, platform::WidePath& out, size_t& size) {
  for (size = 0; path[size] != 0; ++size) {
    if (size + 1 >= platform::kWidePathUnits) return false;
    out.units[size] = path[size];
  }
  out.units[size] = 0;
  return true;
}

StatusCode MakePrefix(platform::WidePath& path, size_t size);

// Works on one buffer, cutting it at each separator in turn, so deep paths cost no
// buffer per level.
StatusCode MakeParents(platform::WidePath& path, size_t size) {
  size_t separator = LastOf(path.units, size, u'/');
  if (separator == kNone) separator = LastOf(path.units, size, u'\\');
  if (separator == kNone) return kOk;
  // The first component (a root or a top directory) is taken as given.
  if (LastOf(path.units, separator, u'/') == kNone && LastOf(path.units, separator, u'\\') == kNone)
    return kOk;
  char16_t saved = path.units[separator];
  path.units[separator] = 0;
  StatusCode code = MakePrefix(path, separator);
  path.units[separator] = saved;
  return code;
}

StatusCode MakePrefix(platform::WidePath& path, size_t size) {
  platform::FileInfo info;
  if (platform::GetFileInfo(path.units, info)) {
    if (info.attributes & platform::kAttrDirectory) return kOk;
    return ConditionCode(Cls::NotADirectory, kPlaceParentDirectories, 0x01);
  }
  if (StatusCode code = MakeParents(path, size)) return code;
  if (!platform::CreateDirectory(path.units))
    return SystemCode(platform::SysCall::CreateDirectory, kPlaceParentDirectories, 0x01);
  return kOk;
}

}  // namespace

StatusCode MakeParentDirectories(const char16_t* path) {
  platform::WidePath buffer;
  size_t size;
  // No path of the library is this long; nothing could be created for it.
  if (!CopyPath(path, buffer, size))
    return SystemCode(platform::SysCall::CreateDirectory, kPlaceParentDirectories, 0x01);
  return MakeParents(buffer, size);
}

StatusCode MakeDirectoryEntry(const char16_t* path, uint32_t attributes, platform::FileTime creation,
                              platform::FileTime last_write) {
  constexpr uint8_t kPlace = kPlaceDirectoryEntry;
  platform::WidePath dir;
  size_t size;
  if (!CopyPath(path, dir, size)) return SystemCode(platform::SysCall::CreateDirectory, kPlace, 0x01);
  // Directories are named with their final "/"; without it the parents made below stop
  // above the directory itself, and a file in the way is seen as a file.
  while (size > 1 && dir.units[size - 1] == u'/') dir.units[--size] = 0;

  platform::FileInfo info;
  if (platform::GetFileInfo(dir.c_str(), info)) {
    if ((info.attributes & platform::kAttrDirectory) == 0)
      return ConditionCode(Cls::NotADirectory, kPlace, 0x01);
  } else if (!platform::CreateDirectory(dir.c_str())) {
    if (StatusCode code = MakeParentDirectories(dir.c_str())) return code;
    if (!platform::CreateDirectory(dir.c_str()))
      return SystemCode(platform::SysCall::CreateDirectory, kPlace, 0x01);
  }
  if (last_write != 0) {
    // The directory is not opened: its times are read and written by path.
    if (!platform::GetFileInfo(dir.c_str(), info))
      return SystemCode(platform::SysCall::GetFileTime, kPlace, 0x01);
    // Only the last-write time can be set here, so only it decides whether to write;
    // the code still tells whether a creation time was asked for.
    if (last_write != info.last_write && !platform::SetWriteTime(dir.c_str(), last_write))
      return SystemCode(platform::SysCall::SetFileTime, kPlace, creation != 0 ? 0x02 : 0x01);
    // Nothing was opened, so nothing is closed: no close failure can arise.
  }
  platform::SetAttributes(dir.c_str(), attributes);
  return kOk;
}

StatusCode MakeEmptyFile(const char16_t* path, uint32_t attributes, platform::FileTime creation,
                         platform::FileTime last_write) {
  constexpr uint8_t kPlace = kPlaceEmptyFile;
  platform::File file;
  if (!file.Open(path, platform::Access::Write, platform::Disposition::CreateAlways)) {
    if (StatusCode code = MakeParentDirectories(path)) return code;
    if (!file.Open(path, platform::Access::Write, platform::Disposition::CreateAlways))
      return SystemCode(platform::SysCall::CreateFile, kPlace, 0x01);
  }
  if (!file.SetWriteTime(last_write))
    return SystemCode(platform::SysCall::SetFileTime, kPlace, creation != 0 ? 0x02 : 0x01);
  if (!file.Close()) return SystemCode(platform::SysCall::CloseHandle, kPlace, 0x01);
  platform::SetAttributes(path, attributes);
  return kOk;
}

}  // namespace tx::frame
