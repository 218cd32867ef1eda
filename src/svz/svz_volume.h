// Cutting any file (normally a 7z archive) into numbered volumes NAME.001, NAME.002, ... of
// a fixed size, and joining them back, by plain byte copying.
#pragma once

#include <cstdint>

#include "frame/status.h"

namespace tx::svz {

inline constexpr uint32_t kMaxVolumes = 999;

// Options: word 0 flags (bit 0 progress), word 1 delete the source afterwards, word 2 the
// volume size (at least 1024). Volumes are written under temporary names and take their
// names together once all are complete and flushed, so a failure leaves neither a volume
// of this call nor a changed volume of an earlier one; after a success, older volumes of
// the name numbered beyond the new last one are removed, and only then is the source.
StatusCode svz_split(void* parent, const char* path, const char* directory, const uint32_t* options);

// Options: word 0 flags (bit 0 progress), word 1 delete the volumes afterwards. Joins
// NAME.001 onward into NAME; a gap in the numbering (0x00180000) or a counted volume that
// cannot be read fails the join. The joined file replaces an older one only when complete
// and flushed, and the volumes are deleted only after that.
StatusCode svz_join(void* parent, const char* path, const char* directory, const uint32_t* options);

}  // namespace tx::svz
