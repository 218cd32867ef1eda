// Creating 7z archives: one file as one folder, a tree with one folder per file, or a tree
// in solid blocks. The archive is written under a temporary name and takes its own only
// when it is complete.
#pragma once

#include <cstdint>

#include "frame/status.h"

namespace tx::svz {

// Option words: [0] demand encryption, [1] flags (bit 0 progress, bit 2 ask for the
// password), [2] method, [3] level 1-9, [4] BCJ mode, [5] creation times, [6] header mode,
// [7] header method, [8] encrypt, [9] NumCyclesPower, [10] salt size, [11] IV size; pack2
// and pack3 also [12] list file; pack3 also [13] grouping, [14] files per block, [15] bytes
// per block.
StatusCode svz_pack1(void* parent, const char* archive, const char* source, const char* password,
                     const uint32_t* options);
StatusCode svz_pack2(void* parent, const char* archive, const char* source, const char* password,
                     const uint32_t* options);
StatusCode svz_pack3(void* parent, const char* archive, const char* source, const char* password,
                     const uint32_t* options);

}  // namespace tx::svz
