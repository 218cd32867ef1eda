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
// volume size (at least 1024). Each volume is flushed before it is kept; after the last one,
// volumes of the same name numbered beyond it are removed, and only then is the archive
// deleted. An archive named like one of its own volumes is refused (0x00100001). A failure
// leaves no volume of this call behind.
StatusCode pea_split(void* parent, const char* archive, const char* directory, const uint32_t* options);
// Options: word 0 flags (bit 0 progress, bit 3 go on past a damaged volume when the user
// agrees), word 1 delete the volumes afterwards. Every counted volume must be read whole
// (one that cannot be opened: 0x01020003); the joined archive is flushed before it is kept,
// and the volumes are deleted only after that. A failure keeps no joined archive.
StatusCode pea_join(void* parent, const char* path, const char* directory, const uint32_t* options);

}  // namespace tx::pea
