#include "zip/zip_unpack.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>

#include "codec/decoder.h"
#include "crypto/compare.h"
#include "crypto/crc.h"
#include "crypto/zipcrypto.h"
#include "frame/bytes.h"
#include "frame/call_frame.h"
#include "frame/names.h"
#include "frame/output_file.h"
#include "frame/output_tree.h"
#include "frame/paths.h"
#include "platform/clock.h"
#include "platform/fs.h"
#include "ui/progress.h"
#include "ui/prompts.h"
#include "zip/zip_aes.h"
#include "zip/zip_certs.h"
#include "zip/zip_coders.h"
#include "zip/zip_strong.h"

namespace tx::zip {

namespace {

using platform::SysCall;
using platform::WidePath;

constexpr uint32_t kProgress = frame::CallFrame::kFlagProgress;
constexpr uint32_t kAskOverwrite = frame::CallFrame::kFlagAskOverwrite;
constexpr uint32_t kAskPassword = frame::CallFrame::kFlagAskPassword;
constexpr uint32_t kAskOnError = frame::CallFrame::kFlagAskOnError;

constexpr size_t kTraditionalHeader = 12;

bool IsAes(uint32_t kind) { return kind == kAe1 || kind == kAe2; }
bool IsStrong(uint32_t kind) { return kind == kStrong3Des || kind == kStrongAes; }

// The classes after which the user may choose to go on with the next member.
bool CanGoOn(StatusCode code) {
  switch (ClassOf(code) >> 16) {
    case 0x30:
    case 0x31:
    case 0x33:
    case 0x41:
    case 0x42:
    case 0x44:
    case 0x51:
    case 0x59:
    case 0x61: return true;
    default: return false;
  }
}

// Output folder + member name. The records were validated already; the name is checked
// again here because this is the one place where it becomes a path on disk.
StatusCode BuildTarget(const WidePath& directory, const char16_t* name, bool drop_final_slash,
                       WidePath& target) {
  if (StatusCode code = frame::CheckName(name, frame::kRefusedEntryName)) return code;
  size_t dir_length = directory.length(), name_length = platform::Utf16Length(name);
  if (drop_final_slash && name_length > 0 && name[name_length - 1] == u'/') --name_length;
  if (dir_length + name_length >= platform::kWidePathUnits) return ConditionCode(Cls::NameLength, 0, 0x01);
  std::memcpy(target.units, directory.units, dir_length * sizeof(char16_t));
  std::memcpy(target.units + dir_length, name, name_length * sizeof(char16_t));
  target.units[dir_length + name_length] = 0;
  return kOk;
}

bool EndsWithSlash(const char16_t* name) {
  size_t n = platform::Utf16Length(name);
  return n > 0 && name[n - 1] == u'/';
}

// Demanded encryption: a member with data must be encrypted, and strong encryption counts
// only together with an encrypted directory, which hides the names as well.
bool FailsDemand(const ZipEntryInfo& entry, const ZipArchiveState& state) {
  if (entry.compressed_size == 0) return false;
  if (entry.encryption == kNoEncryption) return true;
  return entry.encryption >= kStrongUnknown && !(state.cd_flags & 2);
}

StatusCode UnpackMemberWith(MemberReader& r, codec::Decoder& decoder, frame::OutputTree& tree,
                            const char16_t* name, const ZipEntryInfo& entry, const ZipArchiveState& state);

// The frame's common first steps: paths, password, output folder, progress window, and
// the central directory loaded and decoded.
struct Session {
  WidePath archive, directory;
  frame::OutputTree tree;
  Password password;
  CentralDirectory cd;
  MemberLayout layout;
  Wiped<ZipArchiveState> state;
  Wiped<ZipEntryInfo> entry;
  std::unique_ptr<uint8_t[]> input, output;
  codec::Decoder decoder;
};

StatusCode OpenSession(Session& s, frame::CallFrame& frame, uint32_t& flags, const char* archive,
                       const char* directory, const char* password, DirectoryLimit limit,
                       StatusCode directory_failure) {
  WidePath directory_argument;
  if (StatusCode code = frame::ToWidePath(archive, s.archive)) return code;
  if (directory != nullptr && directory[0] != 0 &&
      !platform::Utf8ToUtf16(directory, directory_argument.units, platform::kWidePathUnits))
    return directory_failure;
  s.password.Set(password);
  if (StatusCode code =
          frame::ResolveOutputDirectory(directory_argument.c_str(), s.archive.c_str(), s.directory))
    return code;
  if (StatusCode code = s.tree.Open(s.directory.c_str())) return code;
  if (frame.progress() && ui::ProgressOpen(1, 1, 3003, s.archive.c_str(), s.directory.c_str(), nullptr) != 0)
    return ConditionCode(Cls::Cancelled, 0, 0x01);
  if (StatusCode code = OpenCentralDirectory(s.archive.c_str(), limit, s.cd, *s.state)) return code;
  if (StatusCode code = DecodeCentralDirectory(s.cd, *s.state, flags, s.password)) return code;
  if (StatusCode code = s.layout.Load(s.cd, *s.state)) return code;
  s.input.reset(new (std::nothrow) uint8_t[kDataBlock]);
  s.output.reset(new (std::nothrow) uint8_t[kDataBlock]);
  if (s.input == nullptr || s.output == nullptr) return ConditionCode(Cls::NoMemory, 0, 0x03);
  return kOk;
}

}  // namespace

StatusCode SkipLocalHeader(platform::File& archive, uint64_t offset, uint64_t& data_offset) {
  if (offset > static_cast<uint64_t>(INT64_MAX) ||
      !archive.Seek(static_cast<int64_t>(offset), platform::SeekFrom::Begin))
    return SystemCode(SysCall::SetFilePointer, 0, 0x03);
  uint8_t header[30];
  if (!archive.Read(header, sizeof header)) return SystemCode(SysCall::ReadFile, place::kLocalHeader, 0x01);
  size_t skip = 0;
  if (StatusCode code = ParseLocalHeader(header, skip)) return code;
  data_offset = offset + sizeof header + skip;
  // The name and extra field are usually short: reading past them saves a second seek.
  // A longer or cut-off field is sought over, so the data's own checks report the damage.
  uint8_t passed[1024];
  size_t got = 0;
  if (skip <= sizeof passed && archive.ReadPartial(passed, skip, got) && got == skip) return kOk;
  if (!archive.Seek(static_cast<int64_t>(data_offset), platform::SeekFrom::Begin))
    return SystemCode(SysCall::SetFilePointer, place::kLocalHeader, 0x01);
  return kOk;
}

StatusCode UnpackMember(MemberReader& reader, frame::OutputTree& tree, const char16_t* name,
                        const ZipEntryInfo& entry, const ZipArchiveState& state) {
  codec::Decoder decoder;
  return UnpackMemberWith(reader, decoder, tree, name, entry, state);
}

namespace {

// UnpackMember with a decoder that serves the call's members one after the other, so that
// its state is set up once.
StatusCode UnpackMemberWith(MemberReader& r, codec::Decoder& decoder, frame::OutputTree& tree,
                            const char16_t* name, const ZipEntryInfo& entry, const ZipArchiveState& state) {
  constexpr uint8_t kPlace = place::kMemberUnpacker;
  uint32_t kind = entry.encryption;
  uint64_t length = entry.compressed_size;  // of the compressed data alone, once the prologue is read

  // Strong encryption with an algorithm this library does not know.
  if (kind >= kStrongUnknown && !IsStrong(kind)) return ConditionCode(Cls::UnknownCipher, kPlace, 0x01);
  if ((IsAes(kind) || kind == kTraditional) && r.password.empty() && (r.flags & kAskPassword)) {
    r.flags &= ~kAskPassword;
    if (StatusCode code = r.password.Ask(ConditionCode(Cls::Cancelled, kPlace, 0x01))) return code;
  }
  ZipAesContext aes;
  crypto::ZipCryptoKeys keys;
  StrongCipher strong;
  const bool strong_kind = IsStrong(kind);
  if (strong_kind) {
    if (StatusCode code = ReadStrongHeader(r.archive, length, r.flags, r.password, entry, strong, length))
      return code;
  } else if (IsAes(kind)) {
    size_t salt = entry.key_length / 2;
    if (entry.key_length != 16 && entry.key_length != 24 && entry.key_length != 32)
      return ConditionCode(Cls::UnknownCipher, kPlace, 0x02);
    if (length < salt + kAesVerifierSize + kAesCodeSize) return SystemCode(SysCall::ReadFile, kPlace, 0x04);
    uint8_t prologue[16 + kAesVerifierSize], verifier[kAesVerifierSize];
    if (!r.archive.Read(prologue, salt + kAesVerifierSize))
      return SystemCode(SysCall::ReadFile, kPlace, 0x04);
    if (!ZipAesSetup(entry.key_length, reinterpret_cast<const uint8_t*>(r.password.c_str()),
                     r.password.size(), prologue, verifier, aes))
      return ConditionCode(Cls::NoMemory, kPlace, 0x01);
    if (!crypto::SecretEqual(verifier, prologue + salt, kAesVerifierSize))
      return ConditionCode(Cls::PasswordWrong, kPlace, 0x01);
    length -= salt + kAesVerifierSize + kAesCodeSize;
  } else if (kind == kTraditional) {
    uint8_t header[kTraditionalHeader];
    if (length < kTraditionalHeader || !r.archive.Read(header, sizeof header))
      return SystemCode(SysCall::ReadFile, kPlace, 0x05);
    crypto::ZipCryptoInitKeys(r.password.c_str(), keys);
    crypto::ZipCryptoDecrypt(header, sizeof header, keys);
    // The check byte is the CRC's high byte, or, for writers that did not know the CRC
    // yet, the last two bytes hold the DOS time.
    const uint8_t crc_high = static_cast<uint8_t>(entry.crc32 >> 24);
    uint8_t time[2];
    frame::StoreU16(time, entry.dos_time);
    bool crc_check = crypto::SecretEqual(header + 11, &crc_high, 1);
    bool time_check = crypto::SecretEqual(header + 10, time, 2);
    if (!crc_check && !time_check) return ConditionCode(Cls::PasswordWrong, kPlace, 0x02);
    length -= kTraditionalHeader;
  }
  MemberSignatureCheck signature(entry);

  // The declared size is binding: output beyond it is never written (0x03), output short
  // of it (0x04) and compressed data after the stream's end mark (0x05) are damage too.
  // All are CoderFailed, so a caller may pass over the member and go on.
  const uint64_t declared = entry.uncompressed_size;
  // Strong encryption adds 1 to block bytes of padding, known only at the end.
  const uint64_t block = strong_kind ? strong.block() : 0;
  if (entry.method == kStore && !strong_kind && length != declared)
    return ConditionCode(Cls::CoderFailed, kPlace, length > declared ? 0x03 : 0x04);
  if (entry.method == kStore && strong_kind && (length <= declared || length - declared > block))
    return ConditionCode(Cls::CoderFailed, kPlace, length - block >= declared ? 0x03 : 0x04);
  const uint8_t site = MethodSite(entry.method);
  codec::Method method;
  if (!CodecMethod(entry.method, method)) return ConditionCode(Cls::UnknownMethod, kPlace, 0x01);
  // LZMA's property header would have to be cut out of the first cipher blocks.
  if (strong_kind && method == codec::Method::kLzma) return ConditionCode(Cls::UnknownMethod, kPlace, 0x02);
  auto decrypt = [&](uint8_t* data, size_t size) {
    if (IsAes(kind))
      ZipAesDecrypt(data, size, aes);
    else if (kind == kTraditional)
      crypto::ZipCryptoDecrypt(data, size, keys);
  };
  // LZMA's header is part of the (encrypted) member data; only five property bytes are known.
  uint8_t lzma_header[kLzmaHeader] = {};
  if (method == codec::Method::kLzma) {
    if (length < kLzmaHeader)
      return ConditionCode(Cls::CoderFailed, kPlace, static_cast<uint8_t>(site + 0x01));
    if (!r.archive.Read(lzma_header, kLzmaHeader)) return SystemCode(SysCall::ReadFile, kPlace, 0x06);
    decrypt(lzma_header, kLzmaHeader);
    length -= kLzmaHeader;
    if (frame::LoadU16(lzma_header + 2) != 5)
      return ConditionCode(Cls::CoderInit, kPlace, static_cast<uint8_t>(site + 0x01));
  }
  const bool lzma = method == codec::Method::kLzma;
  // Windows and dictionaries beyond the coders' limits are refused before anything is allocated.
  if (codec::Outcome outcome = decoder.Init(method, lzma ? lzma_header + 4 : nullptr, lzma ? 5 : 0, declared);
      outcome != codec::Outcome::kOk)
    return ConditionCode(Cls::CoderInit, kPlace,
                         static_cast<uint8_t>(site + (outcome == codec::Outcome::kTooLarge ? 0x02 : 0x01)));
  frame::OutputFile out;
  if (StatusCode code = tree.CreateFile(name, out, SystemCode(SysCall::CreateFile, kPlace, 0x01)))
    return code;

  const bool check_crc = kind != kAe2;
  uint32_t crc = 0xFFFFFFFFu;
  uint64_t written = 0;
  auto write = [&](bool finishing) -> StatusCode {
    for (;;) {
      const uint8_t* piece;
      size_t size;
      const codec::Outcome outcome = decoder.Next(r.output, kDataBlock, piece, size, finishing);
      if (outcome == codec::Outcome::kTooLarge)
        return ConditionCode(Cls::CoderInit, kPlace, static_cast<uint8_t>(site + 0x02));
      if (outcome != codec::Outcome::kOk) {
        // Coders that know the size stop at it; they tell a stream of another size apart.
        if (decoder.mismatch() == codec::Decoder::Mismatch::kBeyond)
          return ConditionCode(Cls::CoderFailed, kPlace, 0x03);
        if (decoder.mismatch() == codec::Decoder::Mismatch::kShort)
          return ConditionCode(Cls::CoderFailed, kPlace, 0x04);
        return ConditionCode(Cls::CoderFailed, kPlace,
                             static_cast<uint8_t>(site + (finishing ? 0x02 : 0x01)));
      }
      if (size == 0) return kOk;
      if (size > declared - written) return ConditionCode(Cls::CoderFailed, kPlace, 0x03);
      written += size;
      if (check_crc) crc = crypto::Crc32Update(crc, piece, size);
      signature.Update(piece, size);
      if (!out.file().Write(piece, size))
        return SystemCode(SysCall::WriteFile, kPlace, static_cast<uint8_t>(site + (finishing ? 0x02 : 0x01)));
    }
  };
  for (uint64_t remaining = length; remaining > 0;) {
    size_t n = static_cast<size_t>(std::min<uint64_t>(kDataBlock, remaining));
    if (!r.archive.Read(r.input, n)) return SystemCode(SysCall::ReadFile, kPlace, 0x06);
    remaining -= n;
    if ((r.flags & kProgress) && ui::ProgressUpdate(static_cast<uint32_t>(
                                     100 - static_cast<unsigned __int128>(remaining) * 100 / length)) != 0)
      return ConditionCode(Cls::Cancelled, kPlace, 0x02);
    if (strong_kind) {
      // Whole blocks only (the data length was checked); the last block ends in padding.
      if (!strong.Run(r.input, n)) return ConditionCode(Cls::NoMemory, kPlace, 0x02);
      if (remaining == 0) {
        const size_t pad = StrongPadding(r.input, n, strong.block());
        if (pad == 0) return ConditionCode(Cls::CipherData, kPlace, 0x03);
        n -= pad;
      }
    } else {
      decrypt(r.input, n);
    }
    decoder.Feed(r.input, n);
    if (StatusCode code = write(false)) return code;
    // Zstandard takes what follows its end itself: frames that yield nothing, or damage.
    if (method != codec::Method::kCopy && method != codec::Method::kZstd && decoder.ended() &&
        (decoder.unused() > 0 || remaining > 0))
      return ConditionCode(Cls::CoderFailed, kPlace, 0x05);
  }
  if (!decoder.ended()) {
    if (StatusCode code = write(true)) return code;
  }
  if (written != declared) return ConditionCode(Cls::CoderFailed, kPlace, 0x04);
  if (decoder.End() != codec::Outcome::kOk)
    return ConditionCode(Cls::CoderEnd, kPlace, static_cast<uint8_t>(site + 0x01));

  if (IsAes(kind)) {
    uint8_t stored[kAesCodeSize], computed[kAesCodeSize];
    if (!r.archive.Read(stored, sizeof stored)) return SystemCode(SysCall::ReadFile, kPlace, 0x07);
    ZipAesFinish(computed, aes);
    if (!crypto::SecretEqual(stored, computed, kAesCodeSize))
      return ConditionCode(Cls::AuthFailed, kPlace, 0x01);
  }
  if (check_crc && ~crc != entry.crc32) return ConditionCode(Cls::ChecksumWrong, kPlace, 0x01);
  if (StatusCode code = signature.Verify(entry, state)) return code;

  // Only the last-write time can be set here; a creation time from the NTFS field is kept
  // in the archive alone.
  if (!out.file().SetWriteTime(entry.modification))
    return SystemCode(SysCall::SetFileTime, kPlace, entry.ntfs_times ? 0x01 : 0x02);
  if (!out.Commit(entry.attributes, entry.unix_mode)) return SystemCode(SysCall::CloseHandle, kPlace, 0x01);
  return kOk;
}

}  // namespace

StatusCode zip_unpack1(void* parent, const char* archive, const char* directory, const char* password,
                       const uint32_t* options) {
  if (options == nullptr) return ConditionCode(Cls::BadArgument, 0, 0x00);
  return frame::RunExport(parent, options[1], [&](frame::CallFrame& frame) -> StatusCode {
    KeyRecoveryScope keys;    // the personal store and its keys, read once for the call
    platform::ZoneHold zone;  // DOS stamps are converted with the zone read once
    uint32_t flags = frame.flags();
    Session s;
    if (StatusCode code =
            OpenSession(s, frame, flags, archive, directory, password, DirectoryLimit::kSingleMember,
                        SystemCode(SysCall::MultiByteToWide, 0, 0x00)))
      return code;
    ZipArchiveState& state = *s.state;
    if (state.entry_count == 0) return kOk;
    ZipEntryInfo& entry = *s.entry;
    uint64_t offset = 0;
    size_t record_length = 0;
    if (StatusCode code =
            ReadCentralRecord(s.cd.block.get(), s.cd.length, offset, true, record_length, entry, state))
      return code;
    offset += s.cd.prefix;
    if (state.cd_signature_length > 0) {
      if (StatusCode code = VerifySignature(state.cd_signature, state.cd_signature_length, state))
        return code;
    }
    uint64_t data_offset = 0;
    if (StatusCode code = SkipLocalHeader(s.cd.file, offset, data_offset)) return code;
    if (StatusCode code = s.layout.CheckMember(offset, data_offset, entry.compressed_size)) return code;
    if (options[0] != 0 && FailsDemand(entry, state)) return ConditionCode(Cls::PasswordProblem, 0, 0x00);
    if (EndsWithSlash(entry.name.c_str())) return ConditionCode(Cls::NoDirectory, 0, 0x00);
    WidePath target;
    if (StatusCode code = BuildTarget(s.directory, entry.name.c_str(), false, target)) return code;
    if (frame.progress() && ui::ProgressOpen(1, 1, 0, nullptr, nullptr, entry.name.c_str()) != 0)
      return ConditionCode(Cls::Cancelled, 0, 0x04);
    if (flags & kAskOverwrite) {
      int answer = ui::OverwritePrompt(target.c_str(), entry.modification);
      if (answer == 2 || answer == 3) return ConditionCode(Cls::Cancelled, 0, 0x05);
    }
    MemberReader reader{s.cd.file, flags, s.password, s.input.get(), s.output.get()};
    return UnpackMemberWith(reader, s.decoder, s.tree, entry.name.c_str(), entry, state);
  });
}

StatusCode zip_unpack2(void* parent, const char* archive, const char* directory, const char* filter,
                       const char* password, const uint32_t* options) {
  if (options == nullptr) return ConditionCode(Cls::BadArgument, 0, 0x00);
  return frame::RunExport(parent, options[1], [&](frame::CallFrame& frame) -> StatusCode {
    KeyRecoveryScope keys;    // the personal store and its keys, read once for the call
    platform::ZoneHold zone;  // DOS stamps are converted with the zone read once
    uint32_t flags = frame.flags();
    const bool ask_on_error = flags & kAskOnError;
    Session s;
    WidePath pattern;
    if (filter != nullptr && filter[0] != 0 &&
        !platform::Utf8ToUtf16(filter, pattern.units, platform::kWidePathUnits))
      return SystemCode(SysCall::MultiByteToWide, 0, 0x00);
    if (StatusCode code = OpenSession(s, frame, flags, archive, directory, password, DirectoryLimit::kWhole,
                                      SystemCode(SysCall::MultiByteToWide, 0, 0x02)))
      return code;
    ZipArchiveState& state = *s.state;
    ZipEntryInfo& entry = *s.entry;
    MemberReader reader{s.cd.file, flags, s.password, s.input.get(), s.output.get()};
    size_t position = 0;
    for (uint32_t index = 1; position < s.cd.length; ++index) {
      entry = ZipEntryInfo{};
      uint64_t offset = 0;
      size_t record_length = 0;
      if (StatusCode code = ReadCentralRecord(s.cd.block.get() + position, s.cd.length - position, offset,
                                              true, record_length, entry, state))
        return code;
      offset += s.cd.prefix;
      position += record_length;
      if (index == 1 && state.cd_signature_length > 0) {
        if (StatusCode code = VerifySignature(state.cd_signature, state.cd_signature_length, state)) {
          if (!ask_on_error ||
              ui::ErrorNotice(s.archive.c_str(), ConditionCode(Cls::SignatureWrong, 0, 0)) != 1)
            return code;
        }
      }
      uint64_t data_offset = 0;
      if (StatusCode code = SkipLocalHeader(s.cd.file, offset, data_offset)) return code;
      if (StatusCode code = s.layout.CheckMember(offset, data_offset, entry.compressed_size)) return code;
      WidePath target;
      if (StatusCode code = BuildTarget(s.directory, entry.name.c_str(), true, target)) return code;
      if (!frame::MatchPattern(pattern.c_str(), entry.name.c_str())) continue;

      if (frame.progress() &&
          ui::ProgressOpen(index, state.entry_count, 0, nullptr, nullptr, entry.name.c_str()) != 0)
        return ConditionCode(Cls::Cancelled, 0, 0x03);
      if (flags & kAskOverwrite) {
        platform::FileInfo existing;
        if (platform::GetFileInfo(target.c_str(), existing) &&
            !(existing.attributes & platform::kAttrDirectory)) {
          int answer = ui::OverwritePrompt(target.c_str(), entry.modification);
          if (answer == 2) continue;
          if (answer == 3) return ConditionCode(Cls::Cancelled, 0, 0x04);
          if (answer == 5) flags &= ~kAskOverwrite;
        }
      }
      if (EndsWithSlash(entry.name.c_str())) {
        if (StatusCode code = s.tree.MakeFolder(entry.name.c_str(), entry.creation, entry.modification))
          return code;
        continue;
      }
      if (options[0] != 0 && FailsDemand(entry, state)) return ConditionCode(Cls::PasswordProblem, 0, 0x00);
      StatusCode code = UnpackMemberWith(reader, s.decoder, s.tree, entry.name.c_str(), entry, state);
      if (code != kOk && !(ask_on_error && CanGoOn(code) && ui::ErrorNotice(target.c_str(), code) == 1))
        return code;
    }
    return kOk;
  });
}

}  // namespace tx::zip
