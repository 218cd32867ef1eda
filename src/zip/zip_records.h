// The records of a ZIP archive, byte for byte: local and central headers with their extra
// fields, the archive extra data record, the Zip64 end record and locator, the end record,
// and the readers of the tail and of central-directory records.
#pragma once

#include <cstddef>
#include <cstdint>

#include "frame/status.h"
#include "platform/text.h"
#include "platform/types.h"

namespace tx::zip {

enum EncryptionKind : uint32_t {
  kNoEncryption = 0,
  kAe1 = 1,
  kAe2 = 2,
  kAeAutomatic = 3,  // resolved to AE-1 or AE-2 before a member is written
  kTraditional = 4,  // read only
  kStrongUnknown = 10,
  kStrong3Des = 11,
  kStrongAes = 12,
};

enum ZipMethod : uint32_t { kStore = 0, kDeflate = 8, kBzip2 = 12, kAesMethod = 99 };

// Central-directory digests.
enum ZipHashId : uint32_t { kHashCrc32 = 1, kHashMd5 = 0x8003, kHashSha1 = 0x8004 };

inline constexpr size_t kMaxNameBytes = 3072;   // a name in UTF-8
inline constexpr size_t kMaxSignature = 1024;
inline constexpr size_t kMaxCertificateStore = 8192;
inline constexpr size_t kMaxRecipientData = 512;
inline constexpr size_t kMaxRecipientList = 32768;
// Room a record writer may need: a central header with every extra field.
inline constexpr size_t kMaxCentralHeader = 46 + 3072 + 36 + 11 + 12 + 512 + 1030 + 1030 + 8204 + 28;
inline constexpr size_t kMaxLocalHeader = 30 + 3072 + 36 + 11 + 20;
inline constexpr size_t kMaxEndRecords = 56 + 28 + 20 + 20 + 22;
inline constexpr size_t kMaxArchiveExtraData =
    8 + (6 + 2 + kMaxRecipientList + 4) + (6 + 2 + kMaxSignature) + (6 + 2 + kMaxCertificateStore + 4);
inline constexpr size_t kMaxSignatureRecord = 8 + kMaxSignature;

struct ZipEntryInfo {
  uint32_t method = kStore;   // as stored; the reader keeps whatever byte it finds
  uint32_t level = 6;         // 1..9, drives flag bits 1-2
  uint32_t encryption = kNoEncryption;
  uint32_t key_length = 0;         // bytes: 16, 24, 32 for AES kinds, 21 for 3DES
  uint32_t iv_length = 0;          // strong encryption
  uint32_t validation_length = 0;  // strong encryption
  uint32_t strong_flags = 0;       // masked with 0x4103; 1 for AE-1/AE-2
  uint32_t crc32 = 0;
  uint32_t attributes = 0;  // Windows attribute bits, the external attributes
  uint32_t unix_mode = 0;   // read only: the st_mode of a Unix writer (host 3), else 0
  uint32_t ntfs_times = 0;  // nonzero: the NTFS time field is written or was found
  uint32_t utf8_name = 0;   // nonzero: UTF-8 name with flag bit 11
  uint64_t uncompressed_size = 0;
  uint64_t compressed_size = 0;  // everything between the local header and the next record
  uint16_t dos_time = 0, dos_date = 0;
  platform::FileTime modification = 0, creation = 0, access = 0;
  platform::WidePath name;  // "/"-separated
  uint8_t signature[kMaxSignature] = {};
  uint32_t signature_length = 0;
  // Set by the first local-header write and kept by the rewrite, so that both have the
  // same length: whether the local header carries the Zip64 field.
  bool local_zip64 = false;
};

struct ZipArchiveState {
  uint32_t entry_count = 0;
  uint32_t cd_size = 0;  // as stored, digital signature record included
  uint64_t cd_offset = 0;
  uint32_t cd_flags = 0;  // bit 0 compressed, bit 1 encrypted
  uint32_t cd_original_size = 0;
  uint32_t hash_algorithm = 0;  // ZipHashId
  uint8_t hash[20] = {};
  uint32_t signing_flags = 0;  // bit 0 central directory, bit 1 members; +16 once the store went out
  uint8_t certificate_store[kMaxCertificateStore] = {};
  uint32_t certificate_store_length = 0;
  uint8_t cd_signature[kMaxSignature] = {};
  uint32_t cd_signature_length = 0;
  uint8_t recipient_data[kMaxRecipientData] = {};
  uint32_t recipient_data_length = 0;
  uint8_t recipient_list[kMaxRecipientList] = {};
  uint32_t recipient_list_length = 0;
  // Strong encryption: the archive's random data and its encrypted form (random data and a
  // block of padding under the master key), made once and shared by every member.
  uint8_t strong_random[128] = {};
  uint8_t strong_erd[144] = {};
  uint32_t strong_erd_length = 0;
  // An encrypted directory as read, for rebuilding it: its header's certificate part
  // (recipient count, hash description, key-transport list), IV and validation lengths.
  uint8_t strong_transport[8 + 4096] = {};
  uint32_t strong_transport_length = 0;
  uint32_t strong_iv_length = 0, strong_validation_length = 0;
};

// Places of the record readers in status codes.
namespace place {
inline constexpr uint8_t kTail = 0x10;
inline constexpr uint8_t kCentralRecord = 0x11;
inline constexpr uint8_t kLocalHeader = 0x12;
}  // namespace place

// The DOS stamp fields of an entry from its modification time (local time).
void SetDosStamp(ZipEntryInfo& entry);

// Writers: they fill `out` (room for the kMax... sizes above) and return the length.
// Any nonzero `masking` (the central-directory flags) writes a masked local header.
size_t WriteLocalHeader(uint8_t* out, uint32_t masking, ZipEntryInfo& entry);
size_t WriteCentralHeader(uint8_t* out, uint64_t local_offset, const ZipEntryInfo& entry, ZipArchiveState& state);
// Zip64 end record and locator when needed, then the end record.
size_t WriteEndRecords(uint8_t* out, const ZipEntryInfo& last, const ZipArchiveState& state);
size_t ArchiveExtraData(uint8_t* out, const ZipArchiveState& state);
// The digital signature record for state.cd_signature.
size_t WriteSignatureRecord(uint8_t* out, const ZipArchiveState& state);

// Reads the tail (the last 65536 bytes of the file, or all of a smaller file): entry
// count, central-directory size, offset, flags, original size, digest; the cipher of an
// encrypted central directory goes into `cd_cipher` (encryption kind, key length, flags).
// `directory_end`, when given, gets where in `buffer` the central directory should end:
// at the Zip64 end record, else at the end record.
StatusCode ReadTail(const uint8_t* buffer, size_t length, ZipEntryInfo& cd_cipher, ZipArchiveState& state,
                    size_t* directory_end = nullptr);

// Reads one central-directory record of `left` bytes or more; `record_length` gets its
// length. With `validate`, the sizes and flags must agree and the name must be safe.
StatusCode ReadCentralRecord(const uint8_t* record, size_t left, uint64_t& local_offset, bool validate,
                             size_t& record_length, ZipEntryInfo& entry, ZipArchiveState& state);

// Captures the certificate store and the recipient list of an archive extra data record's
// field area.
void ReadArchiveExtraData(const uint8_t* fields, size_t length, ZipArchiveState& state);

// The 30 bytes of a local header as read for extraction: its signature and name length
// checked; returns the bytes of name and extra field that follow (to be skipped).
StatusCode ParseLocalHeader(const uint8_t* header30, size_t& skip);

}  // namespace tx::zip
