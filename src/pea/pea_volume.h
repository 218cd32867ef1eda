// Cutting a PEA archive into numbered volumes, each closed by its own volume control tag,
// and joining them back.
#pragma once

#include <cstdint>

#include "frame/status.h"
#include "platform/text.h"

namespace tx::pea {

inline constexpr uint32_t kMaxVolumes = 999999;

// The directory (the argument, else the path's own folder, else the current directory,
// always ending in "/") and the base name: the path's last component without ".pea" and
// without a volume number ".NNNNNN".
StatusCode pea_volume_names(const char16_t* directory, const char16_t* path, platform::WidePath& out_directory,
                            platform::WidePath& out_base);

// Options: word 0 flags (bit 0 progress), word 1 delete the archive afterwards, word 2 the
// volume size (at least 1024).
StatusCode pea_split(void* parent, const char* archive, const char* directory, const uint32_t* options);
// Options: word 0 flags (bit 0 progress, bit 3 go on past a damaged volume when the user
// agrees), word 1 delete the volumes afterwards.
StatusCode pea_join(void* parent, const char* path, const char* directory, const uint32_t* options);

}  // namespace tx::pea
