// Extracting ZIP archives: the member of a one-member archive, or every member a name
// pattern selects. Only the central directory's values are trusted; local headers are
// only checked and skipped.
#pragma once

#include <cstdint>

#include "frame/output_tree.h"
#include "frame/status.h"
#include "platform/file.h"
#include "zip/zip_cd.h"
#include "zip/zip_records.h"

namespace tx::zip {

namespace place {
inline constexpr uint8_t kMemberUnpacker = 0x19;
}  // namespace place

// Options: [0] demand encryption, [1] flags (bit 0 progress, bit 1 ask before overwriting,
// bit 2 ask for a missing password (once per call), bit 3 (zip_unpack2) offer to go on
// past a damaged member).
StatusCode zip_unpack1(void* parent, const char* archive, const char* directory, const char* password,
                       const uint32_t* options);
StatusCode zip_unpack2(void* parent, const char* archive, const char* directory, const char* filter,
                       const char* password, const uint32_t* options);

// What the member unpacker works with; the archive is positioned at the member's data.
struct MemberReader {
  platform::File& archive;
  uint32_t& flags;        // bit 2 is cleared once the password prompt has been shown
  Password& password;    // a prompted password is kept for the members that follow
  uint8_t* input;         // 64 KiB
  uint8_t* output;        // 64 KiB
};
inline constexpr size_t kDataBlock = 65536;

// Seeks to a local header, checks it and skips its name and extra field; `data_offset`
// gets where the member's data begins.
StatusCode SkipLocalHeader(platform::File& archive, uint64_t offset, uint64_t& data_offset);

// Decrypts, decompresses and checks one member into the file `name` (its stored name)
// below the output folder, made with its missing folders; the file takes its name only
// when every check passed, and an old file of that name stays until then.
StatusCode UnpackMember(MemberReader& reader, frame::OutputTree& tree, const char16_t* name,
                        const ZipEntryInfo& entry, const ZipArchiveState& state);

}  // namespace tx::zip
