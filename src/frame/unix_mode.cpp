#include "frame/unix_mode.h"

namespace tx::frame {

namespace {
// The file-type field of st_mode and its value for a symbolic link.
constexpr uint32_t kTypeMask = 0170000;
constexpr uint32_t kTypeLink = 0120000;
}  // namespace

bool PermissionsFor(uint32_t mode, uint32_t& permissions) {
  if (mode == kNoUnixMode) return false;
  permissions = (mode & kTypeMask) == kTypeLink ? 0666 : mode & 0777;
  return true;
}

}  // namespace tx::frame
