// What the volume exports of every format share: the numbered names of a set on disk.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "frame/status.h"

namespace tx::frame {

// The path of volume `number` of a set.
using VolumeNamer = std::function<std::u16string(uint32_t number)>;

// Volumes of an earlier split of the same name numbered beyond `last` would be joined with
// the new ones: they are deleted, up to the first number that is missing (a join stops
// there too) or to `most`. A file that is `source` itself is never taken for one. A volume
// that cannot be deleted gives `on_error`.
StatusCode RemoveVolumesBeyond(const VolumeNamer& name_of, uint32_t last, uint32_t most,
                               const char16_t* source, StatusCode on_error);

// The lowest number from `from` to `most` that names nothing on disk, 0 if all are there.
uint32_t FirstMissingVolume(const VolumeNamer& name_of, uint32_t from, uint32_t most);
// The lowest number from `from` to `most` that names an existing file or folder, 0 if none.
uint32_t FirstPresentVolume(const VolumeNamer& name_of, uint32_t from, uint32_t most);

}  // namespace tx::frame
