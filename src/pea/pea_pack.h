// Creating PEA archives: one file, or the files and folders a pattern or a list file names.
#pragma once

#include <cstdint>

#include "frame/name_list.h"
#include "frame/status.h"
#include "pea/pea_format.h"
#include "pea/pea_pipeline.h"

namespace tx::pea {

// Options: [0] demand encryption, [1] flags (bit 0 progress, bit 2 ask for the password),
// [2] compression 0-3, [3] volume check, [4] stream check or mode, [5] object check,
// [6] time encoding 16 or 48; pea_pack2 also [7]: the source is a list file.
StatusCode pea_pack1(void* parent, const char* archive, const char* source, const char* password,
                     const char* key_file, const uint32_t* options);
StatusCode pea_pack2(void* parent, const char* archive, const char* source, const char* password,
                     const char* key_file, const uint32_t* options);

// Writes one object: record, content (stored or in compressed blocks), object tag.
StatusCode pea_pack_object(platform::File& archive, const char16_t* path, uint32_t flags,
                           BlockPipeline& blocks, const PeaArchiveInfo& info, PeaLevels& levels,
                           const PeaObjectEntry& entry);

}  // namespace tx::pea
