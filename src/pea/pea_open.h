// What packing, unpacking and listing share: the password, the optional paths, and the
// opening of an archive for reading up to its first record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "frame/call_frame.h"
#include "frame/secrets.h"
#include "frame/status.h"
#include "pea/pea_format.h"
#include "platform/file.h"
#include "platform/text.h"

namespace tx::pea {

using frame::OptionalPath;

// A block-size buffer that is released on every path; false when memory runs out.
bool Allocate(std::unique_ptr<uint8_t[]>& buffer, size_t size);

// An archive opened for reading: header read, volume tag verified, stream set up (the
// password checked against the verifier), block-size field read.
struct PeaReader {
  platform::File file;
  uint64_t size = 0;
  uint8_t header[kKeyHeaderSize] = {};
  PeaArchiveInfo info;
  PeaLevels levels;
  bool volume_ok = true;  // false when the volume tag did not match and the caller went on
};

// The ways a caller treats a volume tag that does not match.
enum class VolumeMismatch {
  Fail,      // the call ends with the code
  Ask,       // the error notice asks; OK goes on
  Remember,  // noted in volume_ok, and the call goes on
};

struct PeaOpenRequest {
  const char16_t* archive;
  const char* password;
  const char16_t* key_file;  // empty for none
  uint32_t flags;            // bit 0 progress, bit 2 ask for the password
  bool demand_encryption;
  VolumeMismatch on_volume_mismatch;
};

// Opens the archive; the two buffers may be replaced when the archive declares another
// block size (their codes 0x00200003 and 0x00200004; `second` may be null).
StatusCode pea_open_archive(const PeaOpenRequest& request, PeaReader& reader, std::unique_ptr<uint8_t[]>& first,
                            std::unique_ptr<uint8_t[]>* second);

}  // namespace tx::pea
