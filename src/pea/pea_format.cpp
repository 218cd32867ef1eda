#include "pea/pea_format.h"

#include <cstring>
#include <string>

#include "crypto/compare.h"
#include "frame/bytes.h"
#include "frame/names.h"
#include "frame/times.h"
#include "ui/progress.h"

namespace tx::pea {

namespace {

using platform::SysCall;

constexpr uint8_t kEndMarker[6] = {0, 0, 'E', 'O', 'A', 0};
constexpr size_t kMaxNameBytes = 2047;

using frame::LoadU32;
using frame::LoadU64;
using frame::StoreU16;
using frame::StoreU32;
using frame::StoreU64;

uint32_t EncodeTime(platform::FileTime time, uint32_t encoding) {
  if (encoding == kTimeUnix) return frame::FileTimeToUnix(time);
  uint16_t date = 0, clock = 0;
  if (!frame::FileTimeToDosDateTime(time, date, clock)) {
    // Outside 1980-2107: the nearest stamp the format can hold.
    bool early = time < frame::UnixToFileTime(315532800);  // 1980-01-01
    date = early ? 0x0021 : 0xFF9F;
    clock = early ? 0 : 0xBF7D;
  }
  return static_cast<uint32_t>(date) << 16 | clock;
}

platform::FileTime DecodeTime(uint32_t stored, uint32_t encoding) {
  if (encoding == kTimeUnix) return frame::UnixToFileTime(stored);
  platform::FileTime time = 0;
  frame::DosDateTimeToFileTime(static_cast<uint16_t>(stored >> 16), static_cast<uint16_t>(stored), time);
  return time;
}

StatusCode Mismatch(uint8_t algorithm, uint8_t where, uint8_t occurrence) {
  return MakeCode(0, MismatchClass(algorithm), where, occurrence);
}

}  // namespace

bool PeaObjectEntry::IsFolder() const {
  size_t n = name.length();
  return n > 0 && name.units[n - 1] == u'\\';
}

StatusCode pea_write_protected(platform::File& file, uint8_t* data, size_t length, const PeaArchiveInfo& info,
                               PeaLevels& levels, bool object, StatusCode on_error) {
  if (object) pea_check_update(data, length, static_cast<uint8_t>(info.object_algorithm), levels.object);
  pea_stream_encrypt(data, length, static_cast<uint8_t>(info.stream_algorithm), levels.stream);
  pea_check_update(data, length, static_cast<uint8_t>(info.volume_algorithm), levels.volume);
  return file.Write(data, length) ? kOk : on_error;
}

StatusCode pea_read_protected(platform::File& file, uint8_t* data, size_t length, const PeaArchiveInfo& info,
                              PeaLevels& levels, bool object, StatusCode on_error) {
  if (!file.Read(data, length)) return on_error;
  pea_stream_decrypt(data, length, static_cast<uint8_t>(info.stream_algorithm), levels.stream);
  if (object) pea_check_update(data, length, static_cast<uint8_t>(info.object_algorithm), levels.object);
  return kOk;
}

StatusCode pea_read_header(platform::File& file, uint8_t* header, PeaArchiveInfo& info) {
  size_t got = 0;
  if (!file.ReadPartial(header, 10, got) || got < 10) return SystemCode(SysCall::ReadFile, place::kRead, 0x01);
  if (header[0] != 0xEA) return MakeCode(0, 0x78, place::kRead, 0x01);
  if (header[1] != 1) return MakeCode(0, 0x78, place::kRead, 0x02);
  info.volume_algorithm = header[3];
  info.flags = header[5];
  info.time_encoding = header[6];
  info.byte7 = header[7];
  if (!file.ReadPartial(header + 10, 10, got)) return SystemCode(SysCall::ReadFile, place::kRead, 0x02);
  if (got < 10) {
    info.compression = info.stream_algorithm = info.object_algorithm = 0;
    return kOk;
  }
  const uint8_t expected[6] = {0, 0, 'P', 'O', 'D', 0};
  for (int i = 0; i < 6; ++i)
    if (header[10 + i] != expected[i]) return MakeCode(0, 0x79, place::kRead, static_cast<uint8_t>(0x01 + i));
  info.compression = header[16];
  info.stream_algorithm = header[18];
  info.object_algorithm = header[19];
  return kOk;
}

StatusCode pea_write_header(platform::File& file, uint8_t* header, PeaArchiveInfo& info, PeaCheckState& volume) {
  info.flags = 0x11;
  info.byte7 = 1;
  const uint8_t bytes[kKeyHeaderSize] = {0xEA,
                                         1,
                                         0,
                                         static_cast<uint8_t>(info.volume_algorithm),
                                         0,
                                         static_cast<uint8_t>(info.flags),
                                         static_cast<uint8_t>(info.time_encoding),
                                         static_cast<uint8_t>(info.byte7),
                                         0x13,
                                         0,
                                         0,
                                         0,
                                         'P',
                                         'O',
                                         'D',
                                         0,
                                         static_cast<uint8_t>(info.compression),
                                         0,
                                         static_cast<uint8_t>(info.stream_algorithm),
                                         static_cast<uint8_t>(info.object_algorithm),
                                         0,
                                         0};
  std::memcpy(header, bytes, kKeyHeaderSize);
  pea_check_update(header, kHeaderSize, static_cast<uint8_t>(info.volume_algorithm), volume);
  return file.Write(header, kHeaderSize) ? kOk : SystemCode(SysCall::WriteFile, place::kWrite, 0x01);
}

StatusCode pea_write_object(platform::File& file, const PeaArchiveInfo& info, PeaLevels& levels,
                            const PeaObjectEntry& entry) {
  std::string name;
  if (!platform::Utf16ToUtf8(entry.name.c_str(), name) || name.empty() || name.size() > kMaxNameBytes)
    return SystemCode(SysCall::WideToMultiByte, place::kWrite, 0x21);
  uint8_t record[2 + kMaxNameBytes + 16];
  size_t n = 0;
  StoreU16(record, static_cast<uint16_t>(name.size()));
  std::memcpy(record + 2, name.data(), name.size());
  n = 2 + name.size();
  StoreU32(record + n, EncodeTime(entry.last_write, info.time_encoding));
  StoreU32(record + n + 4, entry.attributes);
  n += 8;
  if (!entry.IsFolder()) {
    StoreU64(record + n, entry.size);
    n += 8;
  }
  return pea_write_protected(file, record, n, info, levels, true, SystemCode(SysCall::WriteFile, place::kWrite, 0x21));
}

StatusCode pea_read_object(platform::File& file, const PeaArchiveInfo& info, PeaLevels& levels,
                           PeaObjectEntry& entry) {
  uint8_t record[kMaxNameBytes + 1];
  if (StatusCode code = pea_read_protected(file, record, 2, info, levels, false,
                                           SystemCode(SysCall::ReadFile, place::kRead, 0x21)))
    return code;
  size_t length = frame::LoadU16(record);
  if (length >= 2048) return ConditionCode(Cls::NameLength, place::kRead, 0x21);
  if (length == 0) return MakeCode(0, 0x7A, place::kRead, 0x21);
  pea_check_update(record, 2, static_cast<uint8_t>(info.object_algorithm), levels.object);
  if (StatusCode code = pea_read_protected(file, record, length, info, levels, true,
                                           SystemCode(SysCall::ReadFile, place::kRead, 0x22)))
    return code;
  record[length] = 0;
  if (std::memchr(record, 0, length) != nullptr ||
      !platform::Utf8ToUtf16(reinterpret_cast<const char*>(record), entry.name.units, platform::kWidePathUnits))
    return SystemCode(SysCall::MultiByteToWide, place::kRead, 0x21);
  // The name as stored: once "/" has become "\", a leading "/" or a "//" would look like
  // an absolute base or pass unseen. Refused characters are the unpacker's concern.
  if (StatusCode code = frame::CheckName(entry.name.units, u"")) return code;
  for (char16_t* p = entry.name.units; *p; ++p)
    if (*p == u'/') *p = u'\\';
  uint8_t fields[8];
  if (StatusCode code = pea_read_protected(file, fields, 8, info, levels, true,
                                           SystemCode(SysCall::ReadFile, place::kRead, 0x23)))
    return code;
  entry.last_write = DecodeTime(LoadU32(fields), info.time_encoding);
  entry.attributes = (info.flags & 0x10) ? LoadU32(fields + 4) : 0;
  entry.size = 0;
  if (!entry.IsFolder()) {
    if (StatusCode code = pea_read_protected(file, fields, 8, info, levels, true,
                                             SystemCode(SysCall::ReadFile, place::kRead, 0x24)))
      return code;
    entry.size = LoadU64(fields);
  }
  return kOk;
}

StatusCode pea_read_trailer(platform::File& file, const PeaArchiveInfo& info, PeaLevels& levels) {
  uint8_t rest[4];
  if (StatusCode code = pea_read_protected(file, rest, 4, info, levels, false,
                                           SystemCode(SysCall::ReadFile, place::kRead, 0x31)))
    return code;
  for (int i = 0; i < 4; ++i)
    if (rest[i] != kEndMarker[2 + i]) return MakeCode(0, 0x78, place::kRead, static_cast<uint8_t>(0x31 + i));
  auto algorithm = static_cast<uint8_t>(info.stream_algorithm);
  uint8_t computed[kMaxCheckSize], stored[kMaxCheckSize];
  bool failed = levels.stream.failed();
  size_t size = pea_stream_final(algorithm, computed, levels.stream);
  if (failed) return ConditionCode(Cls::NoMemory, place::kRead, 0x31);
  if (size == 0) return kOk;
  if (!file.Read(stored, size)) return SystemCode(SysCall::ReadFile, place::kRead, 0x32);
  // With an encryption mode the tag is a MAC.
  return crypto::SecretEqual(computed, stored, size) ? kOk : Mismatch(algorithm, place::kRead, 0x31);
}

StatusCode pea_write_trailer(platform::File& file, const PeaArchiveInfo& info, PeaLevels& levels) {
  uint8_t marker[sizeof kEndMarker];
  std::memcpy(marker, kEndMarker, sizeof marker);
  if (StatusCode code = pea_write_protected(file, marker, sizeof marker, info, levels, false,
                                            SystemCode(SysCall::WriteFile, place::kWrite, 0x31)))
    return code;
  uint8_t tag[kMaxCheckSize];
  bool failed = levels.stream.failed();
  size_t size = pea_stream_final(static_cast<uint8_t>(info.stream_algorithm), tag, levels.stream);
  if (failed) return ConditionCode(Cls::NoMemory, place::kWrite, 0x31);
  pea_check_update(tag, size, static_cast<uint8_t>(info.volume_algorithm), levels.volume);
  if (size > 0 && !file.Write(tag, size)) return SystemCode(SysCall::WriteFile, place::kWrite, 0x32);
  size = pea_check_final(static_cast<uint8_t>(info.volume_algorithm), tag, levels.volume);
  if (size > 0 && !file.Write(tag, size)) return SystemCode(SysCall::WriteFile, place::kWrite, 0x33);
  return kOk;
}

StatusCode pea_verify_volume(platform::File& file, uint64_t size, uint32_t flags, uint8_t* buffer,
                             const PeaArchiveInfo& info, PeaCheckState& state) {
  auto algorithm = static_cast<uint8_t>(info.volume_algorithm);
  size_t tag_size = pea_check_init(algorithm, state);
  if (tag_size == 0 || size <= tag_size) return MakeCode(0, 0x78, place::kVerifyVolume, 0x01);
  uint64_t total = size - tag_size;
  for (uint64_t remaining = total; remaining > 0;) {
    size_t n = remaining < info.block_size ? static_cast<size_t>(remaining) : info.block_size;
    if (!file.Read(buffer, n)) return SystemCode(SysCall::ReadFile, place::kVerifyVolume, 0x01);
    pea_check_update(buffer, n, algorithm, state);
    remaining -= n;
    if ((flags & 1) && ui::ProgressUpdate(static_cast<uint32_t>(100 - remaining * 100 / total)) != 0)
      return ConditionCode(Cls::Cancelled, place::kVerifyVolume, 0x01);
  }
  uint8_t computed[kMaxCheckSize], stored[kMaxCheckSize];
  pea_check_final(algorithm, computed, state);
  if (!file.Read(stored, tag_size)) return SystemCode(SysCall::ReadFile, place::kVerifyVolume, 0x02);
  return std::memcmp(computed, stored, tag_size) == 0 ? kOk : Mismatch(algorithm, place::kVerifyVolume, 0x01);
}

}  // namespace tx::pea
