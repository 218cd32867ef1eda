// Extracting PEA archives: the single object of a one-file archive, or every object (or
// those a name pattern selects), checking all three levels of tags.
#pragma once

#include <cstdint>

#include "frame/output_tree.h"
#include "frame/status.h"
#include "pea/pea_format.h"
#include "pea/pea_zlib.h"

namespace tx::pea {

// Options: [0] demand encryption, [1] flags (bit 0 progress, bit 1 ask before overwriting,
// bit 2 ask for the password, bit 3 (pea_unpack2) go on past a damaged entry when the user
// agrees).
StatusCode pea_unpack1(void* parent, const char* archive, const char* directory, const char* password,
                       const char* key_file, const uint32_t* options);
StatusCode pea_unpack2(void* parent, const char* archive, const char* directory, const char* filter,
                       const char* password, const char* key_file, const uint32_t* options);

// The reading side shared with the listing: everything one object's data needs.
struct PeaObjectReader {
  platform::File& file;
  const PeaArchiveInfo& info;
  PeaLevels& levels;
  uint8_t* data;    // block size bytes
  uint8_t* output;  // block size bytes
  BlockInflater& inflater;
  uint32_t flags;
};

// Extracts one object into the file `relative` ("/"-separated) below the output folder.
// The file takes its name once its object check passed, or with `defer` only when the
// caller publishes the tree (after the stream authenticated).
StatusCode pea_unpack_object(PeaObjectReader& r, frame::OutputTree& tree, const char16_t* relative,
                             const PeaObjectEntry& entry, bool defer);
// Reads past an object's data and tag, keeping the stream check complete; `packed` gets
// the bytes the data took (for compressed objects the sum of 4 + stored length).
StatusCode pea_skip_object(PeaObjectReader& r, uint64_t& packed, const PeaObjectEntry& entry);
// After a block failed to decompress: reads past the rest of the object and its tag.
StatusCode pea_skip_rest(PeaObjectReader& r, uint64_t remaining, const PeaObjectEntry& entry);

}  // namespace tx::pea
