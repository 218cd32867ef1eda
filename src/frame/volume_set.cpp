#include "frame/volume_set.h"

#include "platform/fs.h"

namespace tx::frame {

StatusCode RemoveVolumesBeyond(const VolumeNamer& name_of, uint32_t last, uint32_t most,
                               const char16_t* source, StatusCode on_error) {
  platform::FileInfo info;
  for (uint32_t number = last + 1; number <= most; ++number) {
    std::u16string name = name_of(number);
    if (!platform::GetFileInfo(name.c_str(), info) || platform::SameFile(name.c_str(), source)) break;
    if (!platform::DeleteFile(name.c_str())) return on_error;
  }
  return kOk;
}

uint32_t FirstMissingVolume(const VolumeNamer& name_of, uint32_t from, uint32_t most) {
  platform::FileInfo info;
  for (uint32_t number = from; number <= most; ++number)
    if (!platform::GetFileInfo(name_of(number).c_str(), info)) return number;
  return 0;
}

uint32_t FirstPresentVolume(const VolumeNamer& name_of, uint32_t from, uint32_t most) {
  platform::FileInfo info;
  for (uint32_t number = from; number <= most; ++number)
    if (platform::GetFileInfo(name_of(number).c_str(), info)) return number;
  return 0;
}

}  // namespace tx::frame
