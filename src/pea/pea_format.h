// Reading and writing the parts of a PEA archive: headers, object records, the end marker
// and the tags. Every byte after the headers passes through the stream protection: the
// object check, then the stream check or cipher, then the volume check, then the file.
#pragma once

#include <cstddef>
#include <cstdint>

#include "frame/status.h"
#include "pea/pea_check.h"
#include "pea/pea_crypto.h"
#include "pea/pea_types.h"
#include "platform/file.h"

namespace tx::pea {

// Places of the format routines in status codes.
namespace place {
inline constexpr uint8_t kKeyFile = 0x11;
inline constexpr uint8_t kRead = 0x12;
inline constexpr uint8_t kWrite = 0x13;
inline constexpr uint8_t kVerifyVolume = 0x14;
inline constexpr uint8_t kSkipRest = 0x17;
inline constexpr uint8_t kPackObject = 0x18;
inline constexpr uint8_t kUnpackObject = 0x19;
inline constexpr uint8_t kSkipObject = 0x1A;
inline constexpr uint8_t kVolumeNames = 0x1C;
}  // namespace place

// The three levels of checks of one operation.
struct PeaLevels {
  PeaCheckState volume;
  PeaStreamState stream;
  PeaCheckState object;
};

// Writes bytes through the stream protection (object check only when `object` is set);
// the bytes are encrypted in place. `on_error` is the code of a failed write.
StatusCode pea_write_protected(platform::File& file, uint8_t* data, size_t length, const PeaArchiveInfo& info,
                               PeaLevels& levels, bool object, StatusCode on_error);
// Reads bytes and undoes the stream protection (object check when `object` is set).
StatusCode pea_read_protected(platform::File& file, uint8_t* data, size_t length, const PeaArchiveInfo& info,
                              PeaLevels& levels, bool object, StatusCode on_error);

// Reads the archive header and the stream header into `header` (kHeaderSize bytes) and
// fills the archive information. A file that ends after the archive header is an archive
// without a stream (compression and algorithms 0).
StatusCode pea_read_header(platform::File& file, uint8_t* header, PeaArchiveInfo& info);
// Builds the 20 header bytes in `header`, followed by two zeros (kKeyHeaderSize bytes in
// all), feeds the 20 to the volume check and writes them.
StatusCode pea_write_header(platform::File& file, uint8_t* header, PeaArchiveInfo& info, PeaCheckState& volume);

// Writes an object's record through the stream protection (object check included).
StatusCode pea_write_object(platform::File& file, const PeaArchiveInfo& info, PeaLevels& levels,
                            const PeaObjectEntry& entry);
// Reads a record. 0x007A1221 is the end marker (the caller then reads the trailer).
StatusCode pea_read_object(platform::File& file, const PeaArchiveInfo& info, PeaLevels& levels,
                           PeaObjectEntry& entry);

// After the end marker's name length: the rest of the marker and the stream control tag.
StatusCode pea_read_trailer(platform::File& file, const PeaArchiveInfo& info, PeaLevels& levels);
// The end marker, the stream control tag and the volume control tag.
StatusCode pea_write_trailer(platform::File& file, const PeaArchiveInfo& info, PeaLevels& levels);

// Checks a whole volume against its volume control tag, reading `size` bytes from the
// current position (the caller positions at 0) in pieces of info.block_size into `buffer`.
// Flag bit 0 reports progress.
StatusCode pea_verify_volume(platform::File& file, uint64_t size, uint32_t flags, uint8_t* buffer,
                             const PeaArchiveInfo& info, PeaCheckState& state);

}  // namespace tx::pea
