// The record writers: local and central headers, the end records, the archive extra data
// record and the digital signature record.
#include <algorithm>
#include <cstring>

#include "frame/bytes.h"
#include "frame/times.h"
#include "zip/zip_record_fields.h"
#include "zip/zip_records.h"

namespace tx::zip {

using namespace records;

namespace {

using Writer = frame::ByteWriter;

uint16_t VersionNeeded(const ZipEntryInfo& entry, bool zip64) {
  uint16_t version = entry.method == kStore ? 10 : 20;
  if (zip64) version = 45;
  if (entry.method == kBzip2) version = 46;
  if (entry.encryption == kStrong3Des) version = 50;
  if (entry.encryption == kStrongAes) version = 51;
  if ((entry.strong_flags & 0x0102) == 0x0102) version = 61;
  return version;
}

uint16_t GeneralFlags(const ZipEntryInfo& entry) {
  uint16_t flags = 0;
  if (entry.method == kDeflate || entry.method == kBzip2) {
    flags = entry.level == 1 ? 0x0006 : entry.level == 2 ? 0x0004 : entry.level == 9 ? 0x0002 : 0;
  }
  if (entry.encryption != kNoEncryption) flags |= kFlagEncrypted;
  if (entry.encryption >= kStrongUnknown) flags |= kFlagStrong;
  if (entry.utf8_name != 0) flags |= kFlagUtf8;
  return flags;
}

uint16_t MethodField(const ZipEntryInfo& entry) {
  return static_cast<uint16_t>(IsAes(entry) ? kAesMethod : entry.method);
}

uint32_t CrcField(const ZipEntryInfo& entry) { return entry.encryption == kAe2 ? 0 : entry.crc32; }

uint16_t AlgId(uint32_t kind, uint32_t key_length) {
  if (kind == kStrong3Des) return kAlg3Des;
  if (kind != kStrongAes) return kAlgUnknown;
  return key_length == 32 ? kAlgAes256 : key_length == 24 ? kAlgAes192 : kAlgAes128;
}

bool LocalNeedsZip64(const ZipEntryInfo& entry) {
  return entry.uncompressed_size > kMax32 || entry.compressed_size > kMax32 ||
         (entry.method != kStore && entry.uncompressed_size > kZip64Estimate);
}

// The name as UTF-8, the multibyte encoding of this platform, so it always converts; an
// unpaired surrogate (which no converted path holds) becomes U+FFFD. At most 1023 units, so
// at most 3069 bytes.
size_t WriteName(uint8_t* out, const platform::WidePath& name) {
  size_t size = 0;
  auto put = [&](char32_t c) {
    if (c < 0x80) {
      out[size++] = static_cast<uint8_t>(c);
    } else if (c < 0x800) {
      out[size++] = static_cast<uint8_t>(0xC0 | c >> 6);
      out[size++] = static_cast<uint8_t>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out[size++] = static_cast<uint8_t>(0xE0 | c >> 12);
      out[size++] = static_cast<uint8_t>(0x80 | (c >> 6 & 0x3F));
      out[size++] = static_cast<uint8_t>(0x80 | (c & 0x3F));
    } else {
      out[size++] = static_cast<uint8_t>(0xF0 | c >> 18);
      out[size++] = static_cast<uint8_t>(0x80 | (c >> 12 & 0x3F));
      out[size++] = static_cast<uint8_t>(0x80 | (c >> 6 & 0x3F));
      out[size++] = static_cast<uint8_t>(0x80 | (c & 0x3F));
    }
  };
  const char16_t* units = name.units;
  for (size_t i = 0; i + 1 < platform::kWidePathUnits && units[i] != 0; ++i) {
    char32_t c = units[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 2 < platform::kWidePathUnits && units[i + 1] >= 0xDC00 &&
        units[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (units[++i] - 0xDC00);
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    put(c);
  }
  return size;
}

constexpr uint16_t kNtfsFieldSize = 36;

// Modification, access and creation time as FILETIMEs in attribute 1.
void WriteNtfsField(Writer& w, const ZipEntryInfo& entry) {
  w.U16(kTagNtfs);
  w.U16(kNtfsFieldSize - 4);
  w.U32(0);
  w.U16(1);
  w.U16(24);
  w.U64(entry.modification);
  w.U64(entry.access);
  w.U64(entry.creation);
}

void WriteAesField(Writer& w, const ZipEntryInfo& entry) {
  w.U16(kTagAes);
  w.U16(7);
  w.U16(static_cast<uint16_t>(entry.encryption));  // vendor version: 1 AE-1, 2 AE-2
  w.U8('A');
  w.U8('E');
  w.U8(static_cast<uint8_t>((entry.key_length - 8) / 8));
  w.U16(static_cast<uint16_t>(entry.method));
}

// Fields with a 16-bit version 1 in front of the data, as 0x0014, 0x0015 and 0x0016 carry them.
void WriteVersionedField(Writer& w, uint16_t tag, const uint8_t* data, uint32_t size, bool trailing_zero) {
  w.U16(tag);
  w.U16(static_cast<uint16_t>(size + 2 + (trailing_zero ? 4 : 0)));
  w.U16(1);
  w.Bytes(data, size);
  if (trailing_zero) w.U32(0);
}

// The same with the 32-bit size of the archive extra data record.
void WriteWideField(Writer& w, uint16_t tag, const uint8_t* data, uint32_t size, bool trailing_zero) {
  w.U16(tag);
  w.U32(size + 2 + (trailing_zero ? 4 : 0));
  w.U16(1);
  w.Bytes(data, size);
  if (trailing_zero) w.U32(0);
}

}  // namespace

void SetDosStamp(ZipEntryInfo& entry) {
  if (frame::FileTimeToDosDateTime(entry.modification, entry.dos_date, entry.dos_time)) return;
  // Outside 1980-2107: the nearest stamp the field can hold.
  const bool early = entry.modification < frame::UnixToFileTime(315532800);  // 1980-01-01
  entry.dos_date = early ? 0x0021 : 0xFF9F;
  entry.dos_time = early ? 0 : 0xBF7D;
}

size_t WriteLocalHeader(uint8_t* out, uint32_t masking, ZipEntryInfo& entry) {
  const bool masked = masking != 0;
  bool zip64 = LocalNeedsZip64(entry);
  if (!masked) {
    // The first write decides and a rewrite keeps the field, so both have one length.
    zip64 = zip64 || entry.local_zip64;
    entry.local_zip64 = zip64;
  }
  Writer w(out, kMaxLocalHeader);
  w.U32(kLocalSignature);
  w.U16(VersionNeeded(entry, zip64));
  w.U16(GeneralFlags(entry) | (masked ? kFlagMasked : 0));
  w.U16(MethodField(entry));
  if (masked) {
    // Only the compressed size stays, so that members can still be copied one by one.
    w.U32(0);
    w.U32(0);
    w.U32(Field32(entry.compressed_size));
    w.U32(0);
    w.U16(1);
    w.U16(0);
    w.U8('1');
    return w.size();
  }
  uint8_t name[kMaxNameBytes];
  const size_t name_size = WriteName(name, entry.name);
  const bool ntfs = entry.ntfs_times != 0;
  w.U16(entry.dos_time);
  w.U16(entry.dos_date);
  w.U32(CrcField(entry));
  // A size that the Zip64 field carries is 0xFFFFFFFF here: readers take the field's
  // values only for 32-bit fields that say so.
  w.U32(zip64 ? kMax32 : Field32(entry.compressed_size));
  w.U32(zip64 ? kMax32 : Field32(entry.uncompressed_size));
  w.U16(static_cast<uint16_t>(name_size));
  w.U16(static_cast<uint16_t>((ntfs ? kNtfsFieldSize : 0) + (IsAes(entry) ? 11 : 0) + (zip64 ? 20 : 0)));
  w.Bytes(name, name_size);
  // The same extra fields as the central header, so that readers comparing the two agree.
  if (ntfs) WriteNtfsField(w, entry);
  if (IsAes(entry)) WriteAesField(w, entry);
  if (zip64) {
    w.U16(kTagZip64);
    w.U16(16);
    w.U64(entry.uncompressed_size);
    w.U64(entry.compressed_size);
  }
  return w.size();
}

size_t WriteCentralHeader(uint8_t* out, uint64_t local_offset, const ZipEntryInfo& entry,
                          ZipArchiveState& state) {
  const bool wide_offset = local_offset > kMax32;
  const bool zip64 = entry.uncompressed_size > kMax32 || entry.compressed_size > kMax32 || wide_offset;
  uint8_t name[kMaxNameBytes];
  const size_t name_size = WriteName(name, entry.name);
  Writer x(out, kMaxCentralHeader);
  x.U32(kCentralSignature);
  x.U16(kVersionMadeBy);
  x.U16(VersionNeeded(entry, zip64));
  x.U16(GeneralFlags(entry));
  x.U16(MethodField(entry));
  x.U16(entry.dos_time);
  x.U16(entry.dos_date);
  x.U32(CrcField(entry));
  // The Zip64 field holds both sizes and, when it needs the room, the offset after them;
  // each of those values has 0xFFFFFFFF in its 32-bit field, so readers that walk the
  // field in order and readers that take its values at fixed places read the same.
  x.U32(zip64 ? kMax32 : Field32(entry.compressed_size));
  x.U32(zip64 ? kMax32 : Field32(entry.uncompressed_size));
  x.U16(static_cast<uint16_t>(name_size));
  x.U16(0);  // extra length, set below
  x.U16(0);  // comment
  x.U16(0);  // disk number start
  x.U16(0);  // internal attributes
  x.U32(entry.attributes);
  x.U32(wide_offset ? kMax32 : static_cast<uint32_t>(local_offset));
  x.Bytes(name, name_size);
  const size_t extra_start = x.size();
  if (entry.ntfs_times != 0) WriteNtfsField(x, entry);
  if (IsAes(entry)) WriteAesField(x, entry);
  if (entry.encryption >= kStrongUnknown) {
    const bool certificates = (entry.strong_flags & 0x0002) != 0;
    const uint32_t recipients = std::min<uint32_t>(state.recipient_data_length, kMaxRecipientData);
    x.U16(kTagStrong);
    x.U16(static_cast<uint16_t>(certificates ? 8 + recipients : 12));
    x.U16(2);
    x.U16(AlgId(entry.encryption, entry.key_length));
    x.U16(static_cast<uint16_t>(entry.key_length * 8));
    x.U16(static_cast<uint16_t>(entry.strong_flags));
    if (certificates) {
      x.Bytes(state.recipient_data, recipients);
    } else {
      x.U32(0);
    }
  }
  if ((state.signing_flags & 2) != 0 && entry.signature_length > 0) {
    WriteVersionedField(x, kTagMemberSignature, entry.signature,
                        std::min<uint32_t>(entry.signature_length, kMaxSignature), false);
  }
  if (state.cd_flags == 0 && state.signing_flags >= 1 && state.signing_flags <= 3) {
    // Once per archive; the 16 added afterwards keeps later headers from repeating it.
    if ((state.signing_flags & 1) != 0 && state.cd_signature_length > 0) {
      WriteVersionedField(x, kTagCdSignature, state.cd_signature,
                          std::min<uint32_t>(state.cd_signature_length, kMaxSignature), false);
    }
    WriteVersionedField(x, kTagCertificateStore, state.certificate_store,
                        std::min<uint32_t>(state.certificate_store_length, kMaxCertificateStore), true);
    state.signing_flags += 16;
  }
  if (zip64) {
    x.U16(kTagZip64);
    x.U16(wide_offset ? 24 : 16);
    x.U64(entry.uncompressed_size);
    x.U64(entry.compressed_size);
    if (wide_offset) x.U64(local_offset);
  }
  x.PatchU16(30, static_cast<uint16_t>(x.size() - extra_start));
  return x.size();
}

size_t WriteEndRecords(uint8_t* out, const ZipEntryInfo& last, const ZipArchiveState& state) {
  const bool transformed = state.cd_flags != 0;  // compressed or encrypted
  const uint64_t cd_end = state.cd_offset + state.cd_size;
  Writer w(out, kMaxEndRecords);
  // A count of 0xFFFF in the end record tells readers to look for the Zip64 record, so an
  // archive of exactly 65535 members gets one too.
  if (state.entry_count >= 0xFFFF || cd_end > kMax32 || transformed) {
    const size_t hash_length = HashLength(state.hash_algorithm);
    const uint16_t version = transformed ? 62 : VersionNeeded(last, true);
    w.U32(kZip64EndSignature);
    w.U64(transformed ? 72 + hash_length : 44);
    w.U16(kVersionMadeBy);
    w.U16(version);
    w.U32(0);  // this disk
    w.U32(0);  // disk with the central directory
    w.U64(transformed ? 0 : state.entry_count);
    w.U64(state.entry_count);
    w.U64(state.cd_size);
    w.U64(state.cd_offset);
    if (transformed) {
      const bool signed_cd = (state.signing_flags & 1) != 0 && state.cd_signature_length > 0;
      const uint32_t signature_record = std::min<uint32_t>(state.cd_signature_length, kMaxSignature) + 8;
      const bool encrypted = (state.cd_flags & 2) != 0;
      w.U16(static_cast<uint16_t>((state.cd_flags & 1) != 0 ? last.method : 0));
      w.U64(signed_cd ? state.cd_size - signature_record : state.cd_size);
      w.U64(state.cd_original_size);
      w.U16(encrypted ? AlgId(last.encryption, last.key_length) : 0);
      w.U16(static_cast<uint16_t>(encrypted ? last.key_length * 8 : 0));
      w.U16(static_cast<uint16_t>(encrypted ? last.strong_flags : 0));
      w.U16(static_cast<uint16_t>(state.hash_algorithm));
      w.U16(static_cast<uint16_t>(hash_length));
      w.Bytes(state.hash, hash_length);
    }
    w.U32(kLocatorSignature);
    w.U32(0);
    w.U64(cd_end);
    w.U32(1);
  }
  const uint16_t count = static_cast<uint16_t>(std::min<uint32_t>(state.entry_count, 0xFFFF));
  w.U32(kEndSignature);
  w.U16(0);
  w.U16(0);
  w.U16(transformed ? 0 : count);
  w.U16(transformed ? 0xFFFF : count);
  w.U32(state.cd_size);
  w.U32(Field32(state.cd_offset));
  w.U16(0);
  return w.size();
}

size_t ArchiveExtraData(uint8_t* out, const ZipArchiveState& state) {
  const bool signing = (state.signing_flags & 3) != 0;
  if (state.cd_flags == 0 || (state.recipient_list_length == 0 && !signing)) return 0;
  Writer w(out, kMaxArchiveExtraData);
  w.U32(kExtraDataSignature);
  w.U32(0);  // the field area's length, known at the end
  if (state.recipient_list_length > 0) {
    WriteWideField(w, kTagRecipientList, state.recipient_list,
                   std::min<uint32_t>(state.recipient_list_length, kMaxRecipientList), true);
  }
  if ((state.signing_flags & 1) != 0 && state.cd_signature_length > 0) {
    WriteWideField(w, kTagCdSignature, state.cd_signature,
                   std::min<uint32_t>(state.cd_signature_length, kMaxSignature), false);
  }
  if (signing && state.certificate_store_length > 0) {
    WriteWideField(w, kTagCertificateStore, state.certificate_store,
                   std::min<uint32_t>(state.certificate_store_length, kMaxCertificateStore), true);
  }
  w.PatchU32(4, static_cast<uint32_t>(w.size() - 8));
  return w.size();
}

size_t WriteSignatureRecord(uint8_t* out, const ZipArchiveState& state) {
  const uint32_t size = std::min<uint32_t>(state.cd_signature_length, kMaxSignature);
  Writer w(out, kMaxSignatureRecord);
  w.U32(kSignatureRecord);
  w.U16(static_cast<uint16_t>(size + 2));
  w.U16(1);
  w.Bytes(state.cd_signature, size);
  return w.size();
}

}  // namespace tx::zip
