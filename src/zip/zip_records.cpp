#include "zip/zip_records.h"

#include <algorithm>
#include <cstring>

#include "frame/names.h"
#include "frame/times.h"

namespace tx::zip {

namespace {

using platform::SysCall;

constexpr uint32_t kLocalSignature = 0x04034b50;
constexpr uint32_t kCentralSignature = 0x02014b50;
constexpr uint32_t kEndSignature = 0x06054b50;
constexpr uint32_t kZip64EndSignature = 0x06064b50;
constexpr uint32_t kLocatorSignature = 0x07064b50;
constexpr uint32_t kExtraDataSignature = 0x08064b50;
constexpr uint32_t kSignatureRecord = 0x05054b50;

constexpr uint32_t kMax32 = 0xFFFFFFFF;
constexpr uint64_t kZip64Estimate = 0xC0000000;  // a compressed stream of more might outgrow 32 bits
constexpr uint16_t kVersionMadeBy = 62;
constexpr uint16_t kFlagEncrypted = 0x0001;
constexpr uint16_t kFlagStrong = 0x0040;
constexpr uint16_t kFlagUtf8 = 0x0800;
constexpr uint16_t kFlagMasked = 0x2000;
constexpr uint32_t kStrongFlagMask = 0x4103;

constexpr uint16_t kTagZip64 = 0x0001;
constexpr uint16_t kTagNtfs = 0x000A;
constexpr uint16_t kTagCertificateStore = 0x0014;
constexpr uint16_t kTagMemberSignature = 0x0015;
constexpr uint16_t kTagCdSignature = 0x0016;
constexpr uint16_t kTagStrong = 0x0017;
constexpr uint16_t kTagRecipientList = 0x0019;
constexpr uint16_t kTagUnixTime = 0x5455;
constexpr uint16_t kTagAes = 0x9901;

constexpr uint16_t kAlg3Des = 0x6603;
constexpr uint16_t kAlgAes128 = 0x660E;
constexpr uint16_t kAlgAes192 = 0x660F;
constexpr uint16_t kAlgAes256 = 0x6610;
constexpr uint16_t kAlgUnknown = 0xFFFF;

// Header classes of the readers.
constexpr uint8_t kClsTailShort = 0x70;
constexpr uint8_t kClsRecordShort = 0x71;
constexpr uint8_t kClsNoEnd = 0x80;
constexpr uint8_t kClsNoCentral = 0x81;
constexpr uint8_t kClsNoLocal = 0x82;

// Bytes 0x80-0xFF of code page 437, the DOS code page of names stored without the UTF-8 flag.
constexpr char16_t kCp437High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE,
    0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9, 0x00FF, 0x00D6,
    0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA,
    0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB, 0x2591, 0x2592, 0x2593, 0x2502,
    0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510, 0x2514,
    0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550,
    0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C,
    0x2588, 0x2584, 0x258C, 0x2590, 0x2580, 0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320,
    0x2321, 0x00F7, 0x2248, 0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0};

uint16_t GetU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t GetU32(const uint8_t* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}
uint64_t GetU64(const uint8_t* p) { return GetU32(p) | static_cast<uint64_t>(GetU32(p + 4)) << 32; }

void PutU16(uint8_t* p, uint16_t v) { p[0] = static_cast<uint8_t>(v), p[1] = static_cast<uint8_t>(v >> 8); }

// Appends little-endian fields to a caller's buffer.
class Writer {
 public:
  explicit Writer(uint8_t* out) : out_(out) {}
  void U8(uint8_t v) { out_[size_++] = v; }
  void U16(uint16_t v) {
    PutU16(out_ + size_, v);
    size_ += 2;
  }
  void U32(uint32_t v) {
    for (int i = 0; i < 4; ++i) out_[size_++] = static_cast<uint8_t>(v >> (8 * i));
  }
  void U64(uint64_t v) {
    for (int i = 0; i < 8; ++i) out_[size_++] = static_cast<uint8_t>(v >> (8 * i));
  }
  void Bytes(const uint8_t* data, size_t size) {
    if (size > 0) std::memcpy(out_ + size_, data, size);
    size_ += size;
  }
  uint8_t* at(size_t offset) { return out_ + offset; }
  size_t size() const { return size_; }

 private:
  uint8_t* out_;
  size_t size_ = 0;
};

// A 32-bit field: the value, or 0xFFFFFFFF when it does not fit.
uint32_t Field32(uint64_t value) { return value > kMax32 ? kMax32 : static_cast<uint32_t>(value); }

bool IsAes(const ZipEntryInfo& entry) { return entry.encryption == kAe1 || entry.encryption == kAe2; }

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

// The cipher of an AlgID; false for an identifier this library does not know.
bool CipherOfAlgId(uint16_t alg, uint32_t& kind, uint32_t& key_length) {
  switch (alg) {
    case kAlg3Des: kind = kStrong3Des, key_length = 21; return true;
    case kAlgAes128: kind = kStrongAes, key_length = 16; return true;
    case kAlgAes192: kind = kStrongAes, key_length = 24; return true;
    case kAlgAes256: kind = kStrongAes, key_length = 32; return true;
    default: return false;
  }
}

size_t HashLength(uint32_t hash_algorithm) {
  switch (hash_algorithm) {
    case kHashCrc32: return 4;
    case kHashMd5: return 16;
    case kHashSha1: return 20;
    default: return 0;
  }
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

// Names flagged UTF-8 must be valid UTF-8. Others are taken as UTF-8 when they are valid
// (what this library writes), else as code page 437. A zero byte would cut the name short
// and so make it another name: refused.
bool ReadName(const uint8_t* bytes, size_t size, bool utf8, platform::WidePath& name) {
  name.units[0] = 0;
  if (size > 0 && std::memchr(bytes, 0, size) != nullptr) return false;
  char text[kMaxNameBytes + 1];
  std::memcpy(text, bytes, size);
  text[size] = 0;
  if (platform::Utf8ToUtf16(text, name.units, platform::kWidePathUnits)) return true;
  if (utf8 || size >= platform::kWidePathUnits) return false;
  for (size_t i = 0; i < size; ++i) name.units[i] = bytes[i] < 0x80 ? bytes[i] : kCp437High[bytes[i] - 0x80];
  name.units[size] = 0;
  return true;
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

StatusCode TailCode(uint8_t cls, uint8_t occurrence) { return MakeCode(0, cls, place::kTail, occurrence); }
StatusCode RecordCode(uint8_t cls, uint8_t occurrence) {
  return MakeCode(0, cls, place::kCentralRecord, occurrence);
}

// The Zip64 field of a central record. Other writers store only the values whose 32-bit
// fields overflowed, in order; this library stores both sizes at fixed places and the
// offset after them. The field's size tells the two apart.
void ReadZip64Field(const uint8_t* data, size_t size, const uint8_t* record, ZipEntryInfo& entry,
                    uint64_t& local_offset) {
  const bool wide_uncompressed = GetU32(record + 24) == kMax32;
  const bool wide_compressed = GetU32(record + 20) == kMax32;
  const bool wide_offset = GetU32(record + 42) == kMax32;
  const size_t listed = 8 * (size_t{wide_uncompressed} + wide_compressed + wide_offset) +
                        (GetU16(record + 34) == 0xFFFF ? 4 : 0);
  if (size == listed) {
    size_t at = 0;
    if (wide_uncompressed) entry.uncompressed_size = GetU64(data + at), at += 8;
    if (wide_compressed) entry.compressed_size = GetU64(data + at), at += 8;
    if (wide_offset) local_offset = GetU64(data + at);
    return;
  }
  if (size >= 8 && wide_uncompressed) entry.uncompressed_size = GetU64(data);
  if (size >= 16 && wide_compressed) entry.compressed_size = GetU64(data + 8);
  if (size >= 24 && wide_offset) local_offset = GetU64(data + 16);
}

void ReadExtraField(uint16_t tag, const uint8_t* data, size_t size, const uint8_t* record,
                    uint64_t& local_offset, ZipEntryInfo& entry, ZipArchiveState& state) {
  switch (tag) {
    case kTagZip64: ReadZip64Field(data, size, record, entry, local_offset); break;
    case kTagNtfs: {
      entry.ntfs_times = 1;
      if (size < 8) break;
      const uint16_t attribute_size = GetU16(data + 6);
      if (attribute_size >= 8 && size >= 16) entry.modification = GetU64(data + 8);
      if (attribute_size >= 16 && size >= 24) entry.access = GetU64(data + 16);
      if (attribute_size >= 24 && size >= 32) entry.creation = GetU64(data + 24);
      break;
    }
    case kTagCertificateStore:
      if (size >= 6 && size - 6 <= kMaxCertificateStore && state.certificate_store_length == 0) {
        std::memcpy(state.certificate_store, data + 2, size - 6);
        state.certificate_store_length = static_cast<uint32_t>(size - 6);
      }
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
        CipherOfAlgId(GetU16(data + 2), entry.encryption, entry.key_length);
        entry.strong_flags = GetU16(data + 6) & kStrongFlagMask;
      }
      break;
    case kTagUnixTime:
      if (size >= 5 && (data[0] & 1) != 0) entry.modification = frame::UnixToFileTime(GetU32(data + 1));
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
  Writer w(out);
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
  w.U16(entry.dos_time);
  w.U16(entry.dos_date);
  w.U32(CrcField(entry));
  w.U32(Field32(entry.compressed_size));
  w.U32(Field32(entry.uncompressed_size));
  const size_t name_size = WriteName(w.at(30), entry.name);
  w.U16(static_cast<uint16_t>(name_size));
  w.U16(static_cast<uint16_t>((IsAes(entry) ? 11 : 0) + (zip64 ? 20 : 0)));
  Writer rest(w.at(30 + name_size));
  if (IsAes(entry)) WriteAesField(rest, entry);
  if (zip64) {
    rest.U16(kTagZip64);
    rest.U16(16);
    rest.U64(entry.uncompressed_size);
    rest.U64(entry.compressed_size);
  }
  return 30 + name_size + rest.size();
}

size_t WriteCentralHeader(uint8_t* out, uint64_t local_offset, const ZipEntryInfo& entry,
                          ZipArchiveState& state) {
  const bool wide_offset = local_offset > kMax32;
  const bool zip64 = entry.uncompressed_size > kMax32 || entry.compressed_size > kMax32 || wide_offset;
  const size_t name_size = WriteName(out + 46, entry.name);
  Writer x(out + 46 + name_size);  // the extra fields, after the name
  if (entry.ntfs_times != 0) {
    x.U16(kTagNtfs);
    x.U16(32);
    x.U32(0);
    x.U16(1);
    x.U16(24);
    x.U64(entry.modification);
    x.U64(entry.access);
    x.U64(entry.creation);
  }
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

  Writer w(out);
  w.U32(kCentralSignature);
  w.U16(kVersionMadeBy);
  w.U16(VersionNeeded(entry, zip64));
  w.U16(GeneralFlags(entry));
  w.U16(MethodField(entry));
  w.U16(entry.dos_time);
  w.U16(entry.dos_date);
  w.U32(CrcField(entry));
  w.U32(Field32(entry.compressed_size));
  w.U32(Field32(entry.uncompressed_size));
  w.U16(static_cast<uint16_t>(name_size));
  w.U16(static_cast<uint16_t>(x.size()));
  w.U16(0);  // comment
  w.U16(0);  // disk number start
  w.U16(0);  // internal attributes
  w.U32(entry.attributes);
  w.U32(Field32(local_offset));
  return 46 + name_size + x.size();
}

size_t WriteEndRecords(uint8_t* out, const ZipEntryInfo& last, const ZipArchiveState& state) {
  const bool transformed = state.cd_flags != 0;  // compressed or encrypted
  const uint64_t cd_end = state.cd_offset + state.cd_size;
  Writer w(out);
  if (state.entry_count > 0xFFFF || cd_end > kMax32 || transformed) {
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
  Writer w(out);
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
  Writer length(w.at(4));
  length.U32(static_cast<uint32_t>(w.size() - 8));
  return w.size();
}

size_t WriteSignatureRecord(uint8_t* out, const ZipArchiveState& state) {
  const uint32_t size = std::min<uint32_t>(state.cd_signature_length, kMaxSignature);
  Writer w(out);
  w.U32(kSignatureRecord);
  w.U16(static_cast<uint16_t>(size + 2));
  w.U16(1);
  w.Bytes(state.cd_signature, size);
  return w.size();
}

StatusCode ReadTail(const uint8_t* buffer, size_t length, ZipEntryInfo& cd_cipher, ZipArchiveState& state) {
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
    if (GetU32(buffer + at) == kEndSignature && GetU16(buffer + at + 20) == length - at - 22) {
      end = at;
      break;
    }
  }
  for (size_t at = length - 22 + 1; end == length && at-- > 0;) {
    if (GetU32(buffer + at) == kEndSignature) end = at;
  }
  if (end == length) return TailCode(kClsNoEnd, 0x02);
  const uint8_t* record = buffer + end;
  const uint16_t count16 = GetU16(record + 10);
  const uint32_t offset32 = GetU32(record + 16);
  state.entry_count = count16;
  state.cd_size = GetU32(record + 12);
  state.cd_offset = offset32;
  state.cd_original_size = state.cd_size;
  if (count16 != 0xFFFF && offset32 != kMax32) return kOk;

  if (end < 20) return TailCode(kClsTailShort, 0x01);
  const size_t locator = end - 20;
  if (GetU32(buffer + locator) != kLocatorSignature) return kOk;
  if (locator < 56) return TailCode(kClsTailShort, 0x02);
  size_t at = locator - 56;
  if (GetU32(buffer + at) != kZip64EndSignature) {
    do {
      if (at == 0) return kOk;  // no Zip64 record: the 32-bit values stand
    } while (GetU32(buffer + --at) != kZip64EndSignature);
  }
  const uint8_t* zip64 = buffer + at;
  // State fields are 32 bits wide; larger values cannot describe a directory we could load.
  if (count16 == 0xFFFF) state.entry_count = Field32(GetU64(zip64 + 32));
  state.cd_size = Field32(GetU64(zip64 + 40));
  if (offset32 == kMax32) state.cd_offset = GetU64(zip64 + 48);
  state.cd_original_size = state.cd_size;
  if (GetU64(zip64 + 4) == 44 || zip64[14] < 62) return kOk;

  // Version 2: the central directory's compression, cipher and digest. Its fields must end
  // before the locator.
  if (at + 84 > locator) return TailCode(kClsTailShort, 0x03);
  const uint16_t method = GetU16(zip64 + 56);
  if (method == kDeflate || method == kBzip2) {
    state.cd_flags |= 1;
  } else if (method != kStore) {
    return TailCode(static_cast<uint8_t>(Cls::UnknownMethod), 0x01);
  }
  cd_cipher.method = method;
  state.cd_original_size = Field32(GetU64(zip64 + 66));
  const uint16_t alg = GetU16(zip64 + 74);
  if (alg != 0) {
    if (!CipherOfAlgId(alg, cd_cipher.encryption, cd_cipher.key_length)) {
      return TailCode(static_cast<uint8_t>(Cls::UnknownCipher), 0x02);
    }
    state.cd_flags |= 2;
    if (GetU16(zip64 + 76) != cd_cipher.key_length * 8) {
      return TailCode(static_cast<uint8_t>(Cls::UnknownCipher), 0x03);
    }
    cd_cipher.strong_flags = GetU16(zip64 + 78) & kStrongFlagMask;
  }
  const uint16_t hash_id = GetU16(zip64 + 80);
  const size_t hash_length = HashLength(hash_id);
  if (hash_length == 0) return TailCode(static_cast<uint8_t>(Cls::CipherParameter), 0x01);
  if (GetU16(zip64 + 82) != hash_length) return TailCode(static_cast<uint8_t>(Cls::CipherParameter), 0x02);
  if (at + 84 + hash_length > locator) return TailCode(kClsTailShort, 0x03);
  state.hash_algorithm = hash_id;
  std::memcpy(state.hash, zip64 + 84, hash_length);
  return kOk;
}

StatusCode ReadCentralRecord(const uint8_t* record, size_t left, uint64_t& local_offset, bool validate,
                             size_t& record_length, ZipEntryInfo& entry, ZipArchiveState& state) {
  if (left < 46) return RecordCode(kClsRecordShort, 0x01);
  if (GetU32(record) != kCentralSignature) return RecordCode(kClsNoCentral, 0x01);
  entry = ZipEntryInfo{};  // nothing of an earlier record may stay
  const uint16_t flags = GetU16(record + 8);
  const uint16_t method = GetU16(record + 10);
  if ((flags & kFlagEncrypted) != 0 && (method & 0xFF) != kAesMethod) {
    entry.encryption = (flags & kFlagStrong) != 0 ? kStrongUnknown : kTraditional;
    entry.strong_flags = 1;
  }
  entry.utf8_name = (flags & kFlagUtf8) != 0 ? 1 : 0;
  entry.method = method & 0xFF;
  entry.dos_time = GetU16(record + 12);
  entry.dos_date = GetU16(record + 14);
  if (!frame::DosDateTimeToFileTime(entry.dos_date, entry.dos_time, entry.modification))
    entry.modification = 0;
  entry.crc32 = GetU32(record + 16);
  entry.compressed_size = GetU32(record + 20);
  entry.uncompressed_size = GetU32(record + 24);
  entry.attributes = GetU32(record + 38);
  const uint8_t host = record[5];
  if (host != 0 && host != 10) entry.attributes = 0;  // not Windows attribute bits

  const size_t name_size = GetU16(record + 28);
  if (name_size >= kMaxNameBytes)
    return MakeCode(0, static_cast<uint8_t>(Cls::NameLength), place::kCentralRecord, 0x01);
  const size_t extra_size = GetU16(record + 30);
  record_length = 46 + name_size + extra_size + GetU16(record + 32);
  if (record_length > left) return RecordCode(kClsRecordShort, 0x02);
  local_offset = GetU32(record + 42);
  if (!ReadName(record + 46, name_size, entry.utf8_name != 0, entry.name)) {
    return SystemCode(SysCall::MultiByteToWide, place::kCentralRecord, 0x01);
  }

  const uint8_t* extra = record + 46 + name_size;
  for (size_t at = 0; at + 4 <= extra_size;) {
    const uint16_t tag = GetU16(extra + at);
    const size_t size = GetU16(extra + at + 2);
    if (size > extra_size - at - 4) break;  // a field reaching past the area is not read
    ReadExtraField(tag, extra + at + 4, size, record, local_offset, entry, state);
    at += 4 + size;
  }
  return validate ? ValidateRecord(flags, entry) : kOk;
}

void ReadArchiveExtraData(const uint8_t* fields, size_t length, ZipArchiveState& state) {
  for (size_t at = 0; at + 6 <= length;) {
    const uint16_t tag = GetU16(fields + at);
    const uint32_t size = GetU32(fields + at + 2);
    if (size > length - at - 6) break;
    const uint8_t* data = fields + at + 6;
    if (tag == kTagCertificateStore && size >= 6 && size - 6 <= kMaxCertificateStore) {
      std::memcpy(state.certificate_store, data + 2, size - 6);
      state.certificate_store_length = size - 6;
    } else if (tag == kTagRecipientList && size >= 6 && size - 6 <= kMaxRecipientList) {
      std::memcpy(state.recipient_list, data + 2, size - 6);
      state.recipient_list_length = size - 6;
    }
    at += 6 + size;
  }
}

StatusCode ParseLocalHeader(const uint8_t* header30, size_t& skip) {
  if (GetU32(header30) != kLocalSignature) return MakeCode(0, kClsNoLocal, place::kLocalHeader, 0x01);
  const size_t name_size = GetU16(header30 + 26);
  if (name_size >= kMaxNameBytes) {
    return MakeCode(0, static_cast<uint8_t>(Cls::NameLength), place::kLocalHeader, 0x01);
  }
  skip = name_size + GetU16(header30 + 28);
  return kOk;
}

}  // namespace tx::zip
