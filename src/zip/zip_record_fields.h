// Field values shared by the record writers and readers: signatures, tags, flags and the
// cipher identifiers.
#pragma once

#include <cstddef>
#include <cstdint>

#include "zip/zip_records.h"

namespace tx::zip::records {

inline constexpr uint32_t kLocalSignature = 0x04034b50;
inline constexpr uint32_t kCentralSignature = 0x02014b50;
inline constexpr uint32_t kEndSignature = 0x06054b50;
inline constexpr uint32_t kZip64EndSignature = 0x06064b50;
inline constexpr uint32_t kLocatorSignature = 0x07064b50;
inline constexpr uint32_t kExtraDataSignature = 0x08064b50;
inline constexpr uint32_t kSignatureRecord = 0x05054b50;

inline constexpr uint32_t kMax32 = 0xFFFFFFFF;
inline constexpr uint64_t kZip64Estimate = 0xC0000000;  // a compressed stream of more might outgrow 32 bits
inline constexpr uint16_t kVersionMadeBy = 62;
inline constexpr uint16_t kFlagEncrypted = 0x0001;
inline constexpr uint16_t kFlagStrong = 0x0040;
inline constexpr uint16_t kFlagUtf8 = 0x0800;
inline constexpr uint16_t kFlagMasked = 0x2000;
inline constexpr uint32_t kStrongFlagMask = 0x4103;

inline constexpr uint16_t kTagZip64 = 0x0001;
inline constexpr uint16_t kTagNtfs = 0x000A;
inline constexpr uint16_t kTagCertificateStore = 0x0014;
inline constexpr uint16_t kTagMemberSignature = 0x0015;
inline constexpr uint16_t kTagCdSignature = 0x0016;
inline constexpr uint16_t kTagStrong = 0x0017;
inline constexpr uint16_t kTagRecipientList = 0x0019;
inline constexpr uint16_t kTagUnixTime = 0x5455;
inline constexpr uint16_t kTagAes = 0x9901;

inline constexpr uint16_t kAlg3Des = 0x6603;
inline constexpr uint16_t kAlgAes128 = 0x660E;
inline constexpr uint16_t kAlgAes192 = 0x660F;
inline constexpr uint16_t kAlgAes256 = 0x6610;
inline constexpr uint16_t kAlgUnknown = 0xFFFF;

// Header classes of the readers.
inline constexpr uint8_t kClsTailShort = 0x70;
inline constexpr uint8_t kClsRecordShort = 0x71;
inline constexpr uint8_t kClsNoEnd = 0x80;
inline constexpr uint8_t kClsNoCentral = 0x81;
inline constexpr uint8_t kClsNoLocal = 0x82;

// A 32-bit field: the value, or 0xFFFFFFFF when it does not fit.
inline uint32_t Field32(uint64_t value) { return value > kMax32 ? kMax32 : static_cast<uint32_t>(value); }

inline bool IsAes(const ZipEntryInfo& entry) { return entry.encryption == kAe1 || entry.encryption == kAe2; }

// The cipher of an AlgID; false for an identifier this library does not know.
inline bool CipherOfAlgId(uint16_t alg, uint32_t& kind, uint32_t& key_length) {
  switch (alg) {
    case kAlg3Des: kind = kStrong3Des, key_length = 21; return true;
    case kAlgAes128: kind = kStrongAes, key_length = 16; return true;
    case kAlgAes192: kind = kStrongAes, key_length = 24; return true;
    case kAlgAes256: kind = kStrongAes, key_length = 32; return true;
    default: return false;
  }
}

inline size_t HashLength(uint32_t hash_algorithm) {
  switch (hash_algorithm) {
    case kHashCrc32: return 4;
    case kHashMd5: return 16;
    case kHashSha1: return 20;
    default: return 0;
  }
}

}  // namespace tx::zip::records
