// The record readers: the tail with the Zip64 end record, central-directory records with
// their extra fields, the archive extra data record and the local header.
#include <cstring>

#include "crypto/cert_bag.h"
#include "frame/bytes.h"
#include "frame/names.h"
#include "frame/times.h"
#include "frame/unix_mode.h"
#include "platform/code_page.h"
#include "zip/zip_record_fields.h"
#include "zip/zip_records.h"

namespace tx::zip {

using namespace records;

namespace {

using frame::LoadU16;
using frame::LoadU32;
using frame::LoadU64;
using platform::SysCall;

// Names flagged UTF-8 must be valid UTF-8. Others are taken as UTF-8 when they are valid
// (what this library and macOS write), else in the chosen DOS code page, decoded before any
// path check so that a trail byte 0x5C stays part of its character. A zero byte would cut
// the name short and so make it another name: refused.
bool ReadName(const uint8_t* bytes, size_t size, bool utf8, platform::WidePath& name) {
  name.units[0] = 0;
  if (size > 0 && std::memchr(bytes, 0, size) != nullptr) return false;
  char text[kMaxNameBytes + 1];
  std::memcpy(text, bytes, size);
  text[size] = 0;
  if (platform::Utf8ToUtf16(text, name.units, platform::kWidePathUnits)) return true;
  if (utf8) return false;
  return platform::DecodeCodePage(platform::NameCodePage(), bytes, size, name.units, platform::kWidePathUnits);
}

// A folder by its attributes: the DOS directory bit from the FAT, HPFS, NTFS and VFAT
// hosts, the file type in the mode from Unix.
bool MarkedDirectory(uint8_t host, uint32_t attributes) {
  switch (host) {
    case 0:
    case 6:
    case 10:
    case 11:
    case 14: return (attributes & 0x10) != 0;
    case 3: return (attributes >> 16 & 0xF000) == 0x4000;
    default: return false;
  }
}

StatusCode TailCode(uint8_t cls, uint8_t occurrence) { return MakeCode(0, cls, place::kTail, occurrence); }
StatusCode RecordCode(uint8_t cls, uint8_t occurrence) {
  return MakeCode(0, cls, place::kCentralRecord, occurrence);
}

// The Zip64 field of a central record. Other writers store only the values whose 32-bit
// fields overflowed, in order; this library stores both sizes at fixed places and the
// offset after them. The field's size tells the two apart.
void ReadZip64Field(const uint8_t* data, size_t size, const uint8_t* record, ZipEntryInfo& entry,
                    uint64_t& local_offset) {
  const bool wide_uncompressed = LoadU32(record + 24) == kMax32;
  const bool wide_compressed = LoadU32(record + 20) == kMax32;
  const bool wide_offset = LoadU32(record + 42) == kMax32;
  const size_t listed = 8 * (size_t{wide_uncompressed} + wide_compressed + wide_offset) +
                        (LoadU16(record + 34) == 0xFFFF ? 4 : 0);
  if (size == listed) {
    size_t at = 0;
    if (wide_uncompressed) entry.uncompressed_size = LoadU64(data + at), at += 8;
    if (wide_compressed) entry.compressed_size = LoadU64(data + at), at += 8;
    if (wide_offset) local_offset = LoadU64(data + at);
    return;
  }
  if (size >= 8 && wide_uncompressed) entry.uncompressed_size = LoadU64(data);
  if (size >= 16 && wide_compressed) entry.compressed_size = LoadU64(data + 8);
  if (size >= 24 && wide_offset) local_offset = LoadU64(data + 16);
}

// A certificate bag after its version field, taken by its own DER length: writers differ
// in what they put after it (a u32 0, or nothing). Data that is no DER element keeps the
// length the field's size gives.
void TakeBag(const uint8_t* data, size_t size, uint8_t* out, size_t capacity, uint32_t& length) {
  if (size < 2) return;
  size_t bag = crypto::BagLength(data + 2, size - 2);
  if (bag == 0 && size >= 6) bag = size - 6;
  if (bag == 0 || bag > capacity) return;
  std::memcpy(out, data + 2, bag);
  length = static_cast<uint32_t>(bag);
}

void ReadExtraField(uint16_t tag, const uint8_t* data, size_t size, const uint8_t* record,
                    uint64_t& local_offset, ZipEntryInfo& entry, ZipArchiveState& state) {
  switch (tag) {
    case kTagZip64: ReadZip64Field(data, size, record, entry, local_offset); break;
    case kTagNtfs: {
      entry.ntfs_times = 1;
      if (size < 8) break;
      const uint16_t attribute_size = LoadU16(data + 6);
      if (attribute_size >= 8 && size >= 16) entry.modification = LoadU64(data + 8);
      if (attribute_size >= 16 && size >= 24) entry.access = LoadU64(data + 16);
      if (attribute_size >= 24 && size >= 32) entry.creation = LoadU64(data + 24);
      break;
    }
    case kTagCertificateStore:
      if (state.certificate_store_length == 0)
        TakeBag(data, size, state.certificate_store, kMaxCertificateStore, state.certificate_store_length);
      break;
    case kTagMemberSignature:
      if (size >= 2 && size - 2 <= kMaxSignature) {
        std::memcpy(entry.signature, data + 2, size - 2);
        entry.signature_length = static_cast<uint32_t>(size - 2);
      }
      break;
    case kTagStrong:
      entry.encryption = kStrongUnknown;
      entry.key_length = 0;
      if (size >= 8) {
        CipherOfAlgId(LoadU16(data + 2), entry.encryption, entry.key_length);
        entry.strong_flags = LoadU16(data + 6) & kStrongFlagMask;
      }
      break;
    case kTagUnixTime:
      if (size >= 5 && (data[0] & 1) != 0) entry.modification = frame::UnixToFileTime(LoadU32(data + 1));
      break;
    case kTagAes:
      if (size < 7) break;
      // Only versions 1 and 2 exist; anything else is a cipher this library does not know.
      entry.encryption = data[0] == 1 ? kAe1 : data[0] == 2 ? kAe2 : kStrongUnknown;
      entry.key_length = data[4] * 8u + 8;
      entry.method = data[5];
      entry.strong_flags = 1;
      break;
    default: break;
  }
}

StatusCode ValidateRecord(uint16_t flags, const ZipEntryInfo& entry) {
  const bool flagged = (flags & kFlagEncrypted) != 0;
  if (entry.compressed_size == 0) {
    if (flagged) return RecordCode(kClsRecordShort, 0x09);
    if (entry.method != kStore) return RecordCode(kClsRecordShort, 0x0a);
    if (entry.encryption != kNoEncryption) return RecordCode(kClsRecordShort, 0x0b);
  } else if (entry.encryption != kNoEncryption) {
    if (!flagged) return RecordCode(kClsRecordShort, 0x03);
    if (IsAes(entry)) {
      if (entry.key_length < 16 || entry.key_length > 32) return RecordCode(kClsRecordShort, 0x04);
      if (entry.compressed_size < entry.key_length / 2 + 12) return RecordCode(kClsRecordShort, 0x05);
    } else if (entry.encryption == kTraditional) {
      if (entry.compressed_size < 12) return RecordCode(kClsRecordShort, 0x06);
    } else if (entry.compressed_size < 166) {
      return RecordCode(kClsRecordShort, 0x07);
    }
  } else if (flagged) {
    return RecordCode(kClsRecordShort, 0x08);
  }
  return frame::CheckName(entry.name.units, frame::kRefusedEntryName);
}

}  // namespace

StatusCode ReadTail(const uint8_t* buffer, size_t length, ZipEntryInfo& cd_cipher, ZipArchiveState& state,
                    size_t* directory_end) {
  if (length < 22) return TailCode(kClsNoEnd, 0x01);
  cd_cipher.method = kStore;
  cd_cipher.encryption = kNoEncryption;
  cd_cipher.key_length = 0;
  cd_cipher.strong_flags = 0;
  state.cd_flags = 0;
  state.hash_algorithm = 0;

  // First the record whose comment reaches exactly to the end; failing that, the last one.
  size_t end = length;
  for (size_t at = length - 22 + 1; at-- > 0;) {
    if (LoadU32(buffer + at) == kEndSignature && LoadU16(buffer + at + 20) == length - at - 22) {
      end = at;
      break;
    }
  }
  for (size_t at = length - 22 + 1; end == length && at-- > 0;) {
    if (LoadU32(buffer + at) == kEndSignature) end = at;
  }
  if (end == length) return TailCode(kClsNoEnd, 0x02);
  const uint8_t* record = buffer + end;
  if (directory_end != nullptr) *directory_end = end;
  const uint16_t count16 = LoadU16(record + 10);
  const uint32_t offset32 = LoadU32(record + 16);
  state.entry_count = count16;
  state.cd_size = LoadU32(record + 12);
  state.cd_offset = offset32;
  state.cd_original_size = state.cd_size;
  if (count16 != 0xFFFF && offset32 != kMax32) return kOk;

  if (end < 20) return TailCode(kClsTailShort, 0x01);
  const size_t locator = end - 20;
  if (LoadU32(buffer + locator) != kLocatorSignature) return kOk;
  if (locator < 56) return TailCode(kClsTailShort, 0x02);
  size_t at = locator - 56;
  if (LoadU32(buffer + at) != kZip64EndSignature) {
    do {
      if (at == 0) return kOk;  // no Zip64 record: the 32-bit values stand
    } while (LoadU32(buffer + --at) != kZip64EndSignature);
  }
  const uint8_t* zip64 = buffer + at;
  if (directory_end != nullptr) *directory_end = at;
  // State fields are 32 bits wide; larger values cannot describe a directory we could load.
  if (count16 == 0xFFFF) state.entry_count = Field32(LoadU64(zip64 + 32));
  state.cd_size = Field32(LoadU64(zip64 + 40));
  if (offset32 == kMax32) state.cd_offset = LoadU64(zip64 + 48);
  state.cd_original_size = state.cd_size;
  if (LoadU64(zip64 + 4) == 44 || zip64[14] < 62) return kOk;

  // Version 2: the central directory's compression, cipher and digest. Its fields must end
  // before the locator.
  if (at + 84 > locator) return TailCode(kClsTailShort, 0x03);
  const uint16_t method = LoadU16(zip64 + 56);
  if (method == kDeflate || method == kBzip2) {
    state.cd_flags |= 1;
  } else if (method != kStore) {
    return TailCode(static_cast<uint8_t>(Cls::UnknownMethod), 0x01);
  }
  cd_cipher.method = method;
  state.cd_original_size = Field32(LoadU64(zip64 + 66));
  const uint16_t alg = LoadU16(zip64 + 74);
  if (alg != 0) {
    if (!CipherOfAlgId(alg, cd_cipher.encryption, cd_cipher.key_length)) {
      return TailCode(static_cast<uint8_t>(Cls::UnknownCipher), 0x02);
    }
    state.cd_flags |= 2;
    if (LoadU16(zip64 + 76) != cd_cipher.key_length * 8) {
      return TailCode(static_cast<uint8_t>(Cls::UnknownCipher), 0x03);
    }
    cd_cipher.strong_flags = LoadU16(zip64 + 78) & kStrongFlagMask;
  }
  const uint16_t hash_id = LoadU16(zip64 + 80);
  const size_t hash_length = HashLength(hash_id);
  if (hash_length == 0) return TailCode(static_cast<uint8_t>(Cls::CipherParameter), 0x01);
  if (LoadU16(zip64 + 82) != hash_length) return TailCode(static_cast<uint8_t>(Cls::CipherParameter), 0x02);
  if (at + 84 + hash_length > locator) return TailCode(kClsTailShort, 0x03);
  state.hash_algorithm = hash_id;
  std::memcpy(state.hash, zip64 + 84, hash_length);
  return kOk;
}

StatusCode ReadCentralRecord(const uint8_t* record, size_t left, uint64_t& local_offset, bool validate,
                             size_t& record_length, ZipEntryInfo& entry, ZipArchiveState& state) {
  if (left < 46) return RecordCode(kClsRecordShort, 0x01);
  if (LoadU32(record) != kCentralSignature) return RecordCode(kClsNoCentral, 0x01);
  entry = ZipEntryInfo{};  // nothing of an earlier record may stay
  const uint16_t flags = LoadU16(record + 8);
  const uint16_t method = LoadU16(record + 10);
  if ((flags & kFlagEncrypted) != 0 && (method & 0xFF) != kAesMethod) {
    entry.encryption = (flags & kFlagStrong) != 0 ? kStrongUnknown : kTraditional;
    entry.strong_flags = 1;
  }
  entry.utf8_name = (flags & kFlagUtf8) != 0 ? 1 : 0;
  entry.method = method & 0xFF;
  entry.dos_time = LoadU16(record + 12);
  entry.dos_date = LoadU16(record + 14);
  if (!frame::DosDateTimeToFileTime(entry.dos_date, entry.dos_time, entry.modification))
    entry.modification = 0;
  entry.crc32 = LoadU32(record + 16);
  entry.compressed_size = LoadU32(record + 20);
  entry.uncompressed_size = LoadU32(record + 24);
  entry.attributes = LoadU32(record + 38);
  const uint8_t host = record[5];
  constexpr uint8_t kHostUnix = 3;
  const bool directory = MarkedDirectory(host, entry.attributes);
  entry.unix_mode = host == kHostUnix ? frame::UnixModeOfHighBits(entry.attributes) : frame::kNoUnixMode;
  if (host != 0 && host != 10) entry.attributes = 0;  // not Windows attribute bits

  const size_t name_size = LoadU16(record + 28);
  if (name_size >= kMaxNameBytes)
    return MakeCode(0, static_cast<uint8_t>(Cls::NameLength), place::kCentralRecord, 0x01);
  const size_t extra_size = LoadU16(record + 30);
  record_length = 46 + name_size + extra_size + LoadU16(record + 32);
  if (record_length > left) return RecordCode(kClsRecordShort, 0x02);
  local_offset = LoadU32(record + 42);
  if (!ReadName(record + 46, name_size, entry.utf8_name != 0, entry.name)) {
    return SystemCode(SysCall::MultiByteToWide, place::kCentralRecord, 0x01);
  }
  if (directory) {
    // Old DOS and Windows archivers mark folders by their attribute alone; the trailing
    // "/" is what marks a folder everywhere else here.
    size_t n = platform::Utf16Length(entry.name.units);
    if (n > 0 && entry.name.units[n - 1] != u'/') {
      if (n + 1 >= platform::kWidePathUnits)
        return MakeCode(0, static_cast<uint8_t>(Cls::NameLength), place::kCentralRecord, 0x02);
      entry.name.units[n] = u'/';
      entry.name.units[n + 1] = 0;
    }
  }

  const uint8_t* extra = record + 46 + name_size;
  for (size_t at = 0; at + 4 <= extra_size;) {
    const uint16_t tag = LoadU16(extra + at);
    const size_t size = LoadU16(extra + at + 2);
    if (size > extra_size - at - 4) break;  // a field reaching past the area is not read
    ReadExtraField(tag, extra + at + 4, size, record, local_offset, entry, state);
    at += 4 + size;
  }
  return validate ? ValidateRecord(flags, entry) : kOk;
}

void ReadArchiveExtraData(const uint8_t* fields, size_t length, ZipArchiveState& state) {
  for (size_t at = 0; at + 6 <= length;) {
    const uint16_t tag = LoadU16(fields + at);
    const uint32_t size = LoadU32(fields + at + 2);
    if (size > length - at - 6) break;
    const uint8_t* data = fields + at + 6;
    if (tag == kTagCertificateStore) {
      TakeBag(data, size, state.certificate_store, kMaxCertificateStore, state.certificate_store_length);
    } else if (tag == kTagRecipientList) {
      TakeBag(data, size, state.recipient_list, kMaxRecipientList, state.recipient_list_length);
    }
    at += 6 + size;
  }
}

StatusCode ParseLocalHeader(const uint8_t* header30, size_t& skip) {
  if (LoadU32(header30) != kLocalSignature) return MakeCode(0, kClsNoLocal, place::kLocalHeader, 0x01);
  const size_t name_size = LoadU16(header30 + 26);
  if (name_size >= kMaxNameBytes) {
    return MakeCode(0, static_cast<uint8_t>(Cls::NameLength), place::kLocalHeader, 0x01);
  }
  skip = name_size + LoadU16(header30 + 28);
  return kOk;
}

}  // namespace tx::zip
