#include "zip/zip_list.h"

#include <cinttypes>
#include <cstdio>
#include <string>

#include "frame/call_frame.h"
#include "frame/listing.h"
#include "ui/prompts.h"
#include "zip/zip_cd.h"
#include "zip/zip_certs.h"

namespace tx::zip {

namespace {

using platform::SysCall;

constexpr const char* kColumns =
    "   Date      Time   Attr Method    Encrypt     CRC-32         Size   Packed size  Name\r\n";
constexpr const char* kRule =
    "---------- -------- ---- ------- ------------ -------- ------------ ------------ "
    "------------------------\r\n";

// Left-aligned in exactly `width` characters.
std::string Column(std::string text, size_t width) {
  text.resize(width, ' ');
  return text;
}

std::string MethodName(uint32_t method) {
  switch (method) {
    // At most 7 characters: the column is 8 wide with its separating space.
    case 0: return "Store";
    case 1: return "Shrink";
    case 2:
    case 3:
    case 4:
    case 5: return "Reduce";
    case 6: return "Implode";
    case 8: return "Deflate";
    case 9: return "Defla64";
    case 10: return "DCL Imp";
    case 12: return "BZip2";
    case 14: return "LZMA";
    case 19: return "LZ77";
    case 93: return "Zstd";
    case 95: return "XZ";
    case 96: return "JPEG";
    case 97: return "WavPack";
    case 98: return "PPMd";
    default: return "Unknown";
  }
}

const char* AesBits(uint32_t key_length) {
  switch (key_length) {
    case 16: return "128";
    case 24: return "192";
    case 32: return "256";
    default: return "";
  }
}

// "P" for a password, "C" for certificates.
std::string StrongHolders(uint32_t strong_flags) {
  std::string text;
  if (strong_flags & 0x0001) text += 'P';
  if (strong_flags & 0x0002) text += 'C';
  return text;
}

// The strong cipher's name with its trailing space, as the directory and the members show it.
std::string StrongName(uint32_t kind, uint32_t key_length) {
  if (kind == kStrong3Des) return "3DES-168 ";
  if (kind == kStrongAes && *AesBits(key_length) != 0) return std::string("AES-") + AesBits(key_length) + " ";
  return "";
}

std::string Encryption(const ZipEntryInfo& entry) {
  std::string text;
  switch (entry.encryption) {
    case kNoEncryption: break;
    case kAe1:
    case kAe2:
      text = (entry.encryption == kAe1 ? "AE-1 " : "AE-2 ") + std::string(AesBits(entry.key_length));
      break;
    case kTraditional: text = "TPE "; break;
    case kStrong3Des:
    case kStrongAes:
      text = StrongName(entry.encryption, entry.key_length) + StrongHolders(entry.strong_flags);
      break;
    default: text = "? (SE) " + StrongHolders(entry.strong_flags); break;
  }
  if (entry.signature_length > 0) text += 'S';
  return text;
}

std::string DirectoryHeader(const ZipArchiveState& state, const ZipEntryInfo& cipher) {
  std::string text = "\r\nHeader  :";
  if (state.cd_flags & 1) {
    text += cipher.method == kBzip2 ? " Compress (BZip2)" : " Compress (Deflate)";
    if (state.cd_flags & 2) text += " &";
  }
  if (state.cd_flags & 2) {
    std::string name = StrongName(cipher.encryption, cipher.key_length);
    text += " Encrypt (" + (name.empty() ? std::string("Unknown ") : name) +
            StrongHolders(cipher.strong_flags) + ")";
  }
  return text;
}

}  // namespace

StatusCode zip_list(void* parent, const char* archive, const char* password, char* output,
                    uint32_t output_size, const uint32_t* options) {
  if (output == nullptr || output_size == 0) return kOk;
  uint32_t flags = options != nullptr ? options[0] & frame::CallFrame::kFlagAskOnError : 0;
  return frame::RunExport(parent, flags, [&](frame::CallFrame&) -> StatusCode {
    KeyRecoveryScope keys;  // the personal store and its keys, read once for the call
    frame::ListingText text(output, output_size);
    platform::WidePath archive_path;
    if (StatusCode code = frame::ToWidePath(archive, archive_path)) return code;
    // Needed only to decrypt a central directory.
    Password secret;
    secret.Set(password);
    uint32_t ask = options != nullptr ? options[0] & frame::CallFrame::kFlagAskPassword : 0;

    CentralDirectory cd;
    Wiped<ZipArchiveState> state_holder;
    Wiped<ZipEntryInfo> entry_holder;
    ZipArchiveState& state = *state_holder;
    ZipEntryInfo& entry = *entry_holder;
    if (StatusCode code = OpenCentralDirectory(archive_path.c_str(), DirectoryLimit::kWhole, cd, state))
      return code;
    std::string name;
    if (!frame::ListingName(archive_path.c_str(), name)) return SystemCode(SysCall::WideToMultiByte, 0, 0x01);
    if (StatusCode code = text.Add("Archive : " + name)) return code;
    if (StatusCode code =
            text.Add(frame::FormatText("\r\nSize    : %" PRIu64 "\r\nContent : %lu", cd.file_size,
                                       static_cast<unsigned long>(state.entry_count))))
      return code;
    bool signed_directory = state.cd_signature_length > 0;
    if (state.cd_flags != 0 || signed_directory) {
      if (StatusCode code = text.Add(DirectoryHeader(state, cd.cipher))) return code;
    }
    if (StatusCode code = DecodeCentralDirectory(cd, state, ask, secret)) return code;
    if (signed_directory && cd.length > 0) {
      if (state.cd_flags != 0)
        if (StatusCode code = text.Add(" &")) return code;
      uint64_t offset;
      size_t record_length;
      if (StatusCode code =
              ReadCentralRecord(cd.block.get(), cd.length, offset, false, record_length, entry, state))
        return code;
      const char* verdict = " Signature (OK)";
      if (StatusCode code = VerifySignature(state.cd_signature, state.cd_signature_length, state)) {
        if (!(flags & frame::CallFrame::kFlagAskOnError) || SignatureNotice(archive_path.c_str(), state) != 1)
          return code;
        verdict = " Signature (BAD)";
      }
      if (StatusCode code = text.Add(verdict)) return code;
    }
    if (StatusCode code = text.Add(std::string("\r\n\r\n") + kColumns)) return code;

    uint32_t files = 0, empties = 0, folders = 0;
    uint64_t total_size = 0, total_packed = 0;
    size_t position = 0;
    for (uint32_t index = 1; position < cd.length; ++index) {
      entry = ZipEntryInfo{};
      uint64_t offset;
      size_t record_length;
      if (StatusCode code = ReadCentralRecord(cd.block.get() + position, cd.length - position, offset, false,
                                              record_length, entry, state))
        return code;
      position += record_length;
      if (index % 10 == 1)
        if (StatusCode code = text.Add(kRule)) return code;
      size_t name_length = platform::Utf16Length(entry.name.c_str());
      bool folder = name_length > 0 && entry.name.units[name_length - 1] == u'/';
      bool empty = !folder && entry.uncompressed_size == 0;
      std::string line = frame::ListingTime(entry.modification) + frame::ListingAttributes(entry.attributes) +
                         Column(folder  ? "Folder"
                                : empty ? "Empty"
                                        : MethodName(entry.method),
                                8) +
                         Column(Encryption(entry), 13);
      line += !folder && !empty && entry.encryption != kAe2
                  ? frame::FormatText("%08lX", static_cast<unsigned long>(entry.crc32))
                  : std::string(8, ' ');
      line += folder ? frame::FormatText("             %13" PRIu64 " ", entry.compressed_size)
                     : frame::FormatText("%13" PRIu64 "%13" PRIu64 " ", entry.uncompressed_size,
                                         entry.compressed_size);
      if (!frame::ListingName(entry.name.c_str(), name)) return SystemCode(SysCall::WideToMultiByte, 0, 0x02);
      if (StatusCode code = text.Add(line + name + "\r\n")) return code;
      folders += folder;
      empties += empty;
      files += !folder && !empty;
      total_size += entry.uncompressed_size;
      total_packed += entry.compressed_size;
    }
    if (StatusCode code = text.Add(kRule)) return code;
    if (StatusCode code = text.Add(
            frame::FormatText("  %7lu files %7lu empties %7lu folders       %13" PRIu64 "%13" PRIu64 "\r\n",
                              static_cast<unsigned long>(files), static_cast<unsigned long>(empties),
                              static_cast<unsigned long>(folders), total_size, total_packed)))
      return code;
    if (!cd.file.Close()) return SystemCode(SysCall::CloseHandle, 0, 0x00);
    return kOk;
  });
}

}  // namespace tx::zip
