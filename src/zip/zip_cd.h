// Loading the central directory of an archive being read: found through the tail, read
// into memory, its digital signature record taken off, then decoded (decompressed and
// checked against its digest) and cleared of the archive extra data record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "frame/secrets.h"
#include "frame/status.h"
#include "platform/file.h"
#include "platform/system.h"
#include "zip/zip_records.h"

namespace tx::zip {

namespace place {
inline constexpr uint8_t kCentralDirectory = 0x14;  // decoding the block
inline constexpr uint8_t kVerification = 0x52;      // signatures over the directory or a member
inline constexpr uint8_t kMemberLayout = 0x16;      // where the members lie in the file
}  // namespace place

using frame::Password;
using frame::Wiped;

struct CentralDirectory {
  platform::File file;
  uint64_t file_size = 0;
  std::unique_ptr<uint8_t[]> block;  // the records once decoded
  size_t length = 0;
  std::unique_ptr<uint8_t[]> decoded;  // a compressed directory as it decompresses
  ZipEntryInfo cipher;                 // method and cipher of a compressed or encrypted directory
  // Bytes in front of the archive (a self-extractor's program): every offset the records
  // give is this much short of the real one. The state's directory offset has it already.
  uint64_t prefix = 0;
};

// How much the caller can take: one member in a small directory, or any archive.
enum class DirectoryLimit { kSingleMember, kWhole };

// Opens the archive, reads the tail and the block as stored, and takes the digital
// signature record off. An archive without entries stops early with an empty block.
StatusCode OpenCentralDirectory(const char16_t* archive, DirectoryLimit limit, CentralDirectory& cd,
                                ZipArchiveState& state);

// Undoes encryption and compression, checks the digest and removes the archive extra data
// record; for a plain signed directory, digests the block. A compressed directory may come
// to at most 256 MiB (0x00201403). The password opens an encrypted directory (asked for
// when it is empty and `flags` bit 2 is set, which is then cleared); what rebuilding its
// decryption header needs stays in the state.
StatusCode DecodeCentralDirectory(CentralDirectory& cd, ZipArchiveState& state, uint32_t& flags,
                                  Password& password);

// Where the members lie in the file. Every member's local header and data must stand
// apart from the others and from the directory: records that share bytes would extract
// one stretch of the file over and over (a small archive could fill a disk).
class MemberLayout {
 public:
  // Takes the records of a decoded directory up to the first that cannot be read (the
  // extraction walk stops there too) and refuses what the records alone show: a member
  // whose local header and data cannot fit before the next member (0x00601601) or before
  // the directory, or that starts inside it (0x00601602).
  StatusCode Load(const CentralDirectory& cd, const ZipArchiveState& state);
  // Once the member's local header has been read: its data must end before the next
  // member or the directory begins (0x00601603).
  StatusCode CheckMember(uint64_t local_offset, uint64_t data_offset, uint64_t compressed_size) const;

 private:
  std::vector<uint64_t> starts_;  // sorted starts of the members and of the directory
};

// Checks the directory's signature data against the state's digest and certificate store.
StatusCode VerifySignature(const uint8_t* signature, size_t size, const ZipArchiveState& state);

}  // namespace tx::zip
