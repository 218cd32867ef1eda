#include "frame/paths.h"

#include <cstddef>

#include "platform/fs.h"
#include "platform/text.h"

namespace tx::frame {

namespace {

constexpr size_t kNone = static_cast<size_t>(-1);

bool IsSeparator(char16_t c) { return c == u'/' || c == u'\\'; }

size_t LastSeparator(const char16_t* text, size_t size) {
  for (size_t i = size; i > 0; --i) {
    if (IsSeparator(text[i - 1])) return i - 1;
  }
  return kNone;
}

// Length of `text`, false when it would not fit a path buffer with its terminator.
bool PathLength(const char16_t* text, size_t& size) {
  size = 0;
  if (text == nullptr) return true;
  while (text[size] != 0) {
    if (++size >= platform::kWidePathUnits) return false;
  }
  return true;
}

// Copies a directory, or a name without separators, with "/" for every "\": the one
// separator of platform paths.
void CopyUnits(const char16_t* text, size_t size, platform::WidePath& out) {
  for (size_t i = 0; i < size; ++i) out.units[i] = text[i] == u'\\' ? u'/' : text[i];
  out.units[size] = 0;
}

bool IsDirectory(const char16_t* path) {
  platform::FileInfo info;
  return platform::GetFileInfo(path, info) && (info.attributes & platform::kAttrDirectory) != 0;
}

// The output directory rule shared by output and volume names, with the caller's place.
StatusCode ResolveDirectory(const char16_t* directory, const char16_t* archive, platform::WidePath& out,
                            uint8_t place) {
  out.units[0] = 0;
  size_t size;
  bool from_current = false;
  if (directory != nullptr && directory[0] != 0) {
    if (!PathLength(directory, size)) return ConditionCode(Cls::NameLength, place, 0x01);
    CopyUnits(directory, size, out);
    if (!IsDirectory(out.c_str())) {
      out.units[0] = 0;
      return ConditionCode(Cls::NoDirectory, place, 0x01);
    }
  } else {
    if (!PathLength(archive, size)) return ConditionCode(Cls::NameLength, place, 0x01);
    size_t separator = LastSeparator(archive, size);
    if (separator != kNone) {
      CopyUnits(archive, separator, out);
    } else {
      from_current = true;
      if (!platform::CurrentDirectory(out))
        return SystemCode(platform::SysCall::GetCurrentDirectory, place, 0x01);
    }
  }
  if (FinishDirectory(out)) return kOk;
  // A current directory that leaves no room for the separator is one too long to use.
  return from_current ? SystemCode(platform::SysCall::GetCurrentDirectory, place, 0x01)
                      : ConditionCode(Cls::NameLength, place, 0x01);
}

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

}  // namespace

bool FinishDirectory(platform::WidePath& dir) {
  size_t size = 0;
  for (; dir.units[size] != 0; ++size) {
    if (dir.units[size] == u'\\') dir.units[size] = u'/';
  }
  if (size > 0 && dir.units[size - 1] == u'/') return true;
  if (size + 1 >= platform::kWidePathUnits) {
    dir.units[0] = 0;
    return false;
  }
  dir.units[size] = u'/';
  dir.units[size + 1] = 0;
  return true;
}

StatusCode SplitSourcePath(const char16_t* source, platform::WidePath& base, platform::WidePath& name) {
  constexpr uint8_t kPlace = kPlaceSourceSplit;
  base.units[0] = 0;
  name.units[0] = 0;
  size_t size;
  if (!PathLength(source, size)) return ConditionCode(Cls::NameLength, kPlace, 0x01);
  size_t separator = LastSeparator(source, size);
  if (separator == kNone) {
    CopyUnits(source, size, name);
    if (!platform::CurrentDirectory(base) || !FinishDirectory(base)) {
      name.units[0] = 0;
      return SystemCode(platform::SysCall::GetCurrentDirectory, kPlace, 0x01);
    }
    return kOk;
  }
  if (separator + 1 == size) {
    // A folder given with its trailing separator.
    if (size < 3) return ConditionCode(Cls::BadName, kPlace, 0x02);
    size_t folder_end = size - 1;
    size_t before = LastSeparator(source, folder_end);
    if (before == kNone) return ConditionCode(Cls::BadName, kPlace, 0x01);
    // "dir//" would pack the directory under an empty name, that is under "/".
    if (before + 1 == folder_end) return ConditionCode(Cls::BadName, kPlace, 0x02);
    size_t folder_size = folder_end - before - 1;
    CopyUnits(source + before + 1, folder_size, name);
    name.units[folder_size] = u'/';
    name.units[folder_size + 1] = 0;
    CopyUnits(source, before, base);
  } else {
    CopyUnits(source + separator + 1, size - separator - 1, name);
    CopyUnits(source, separator, base);
  }
  FinishDirectory(base);  // the base is shorter than the source, so the "/" fits
  return kOk;
}

StatusCode ResolveOutputDirectory(const char16_t* directory, const char16_t* archive,
                                  platform::WidePath& out) {
  return ResolveDirectory(directory, archive, out, kPlaceOutputDirectory);
}

StatusCode ResolveVolumeName(const char16_t* directory, const char16_t* path,
                             platform::WidePath& out_directory, platform::WidePath& out_name,
                             bool strip_number) {
  out_name.units[0] = 0;
  if (StatusCode code = ResolveDirectory(directory, path, out_directory, kPlaceVolumeName)) return code;
  size_t size;
  StatusCode code = kOk;
  if (!PathLength(path, size)) code = ConditionCode(Cls::NameLength, kPlaceVolumeName, 0x01);
  size_t separator = code ? kNone : LastSeparator(path, size);
  if (separator != kNone && separator + 1 == size) code = ConditionCode(Cls::BadName, kPlaceVolumeName, 0x01);
  if (code) {
    out_directory.units[0] = 0;
    return code;
  }
  size_t start = separator == kNone ? 0 : separator + 1;
  size_t name_size = size - start;
  const char16_t* name = path + start;
  // Strip only when a name remains: ".001" alone is a name, not a number.
  if (strip_number && name_size > 4 && name[name_size - 4] == u'.' && IsDigit(name[name_size - 3]) &&
      IsDigit(name[name_size - 2]) && IsDigit(name[name_size - 1])) {
    name_size -= 4;
  }
  CopyUnits(name, name_size, out_name);
  return kOk;
}

StatusCode MakeTempFile(const char16_t* directory, const char16_t* prefix, platform::WidePath& out) {
  out.units[0] = 0;
  platform::WidePath dir;
  size_t size;
  if (directory != nullptr && directory[0] != 0) {
    if (!PathLength(directory, size)) return ConditionCode(Cls::NoDirectory, kPlaceTempFile, 0x01);
    CopyUnits(directory, size, dir);
    if (!IsDirectory(dir.c_str())) return ConditionCode(Cls::NoDirectory, kPlaceTempFile, 0x01);
  } else if (!platform::TempPath(dir)) {
    return SystemCode(platform::SysCall::GetTempPath, kPlaceTempFile, 0x01);
  }
  if (!platform::TempFileName(dir.c_str(), prefix, out))
    return SystemCode(platform::SysCall::GetTempFileName, kPlaceTempFile, 0x01);
  return kOk;
}

StatusCode CheckWorkFolder(const char* folder, StatusCode conversion) {
  if (folder == nullptr || folder[0] == 0) return kOk;
  platform::WidePath path;
  if (!platform::Utf8ToUtf16(folder, path.units, platform::kWidePathUnits)) return conversion;
  platform::FileInfo info;
  if (!platform::GetFileInfo(path.c_str(), info) || !(info.attributes & platform::kAttrDirectory))
    return ConditionCode(Cls::NoDirectory, kPlaceTempFile, 0x01);
  return kOk;
}

}  // namespace tx::frame
