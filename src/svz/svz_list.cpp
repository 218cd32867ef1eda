#include "svz/svz_list.h"

#include <cinttypes>
#include <string>

#include "frame/call_frame.h"
#include "frame/listing.h"
#include "frame/names.h"
#include "svz/svz_open.h"

namespace tx::svz {

namespace {

using platform::SysCall;

constexpr const char* kColumns =
    "   Date      Time   Attr  Method     CP Sa IV  CRC-32         Size   Packed size  Name\r\n";
constexpr const char* kRule =
    "---------- -------- ---- ----------- -------- -------- ------------ ------------ "
    "------------------------\r\n";

const char* MethodName(uint32_t method) {
  switch (method) {
    case kCopy: return " Copy";
    case kDeflate: return " Deflate";
    case kBzip2: return " BZip2";
    case kLzma: return " LZMA";
    case kPpmd: return " PPMd";
    case kLzma2: return " LZMA2";
    case kDeflate64: return " Deflate64";
    case kZstd: return " ZSTD";
    default: return " Unknown";
  }
}

// Filters other than BCJ, by their method ids.
const char* FilterName(uint32_t id) {
  switch (id) {
    case 0x03: return "Delta";
    case 0x04: return "BCJ";
    case 0x05:
    case 0x03030205: return "PPC";
    case 0x06:
    case 0x03030401: return "IA64";
    case 0x07:
    case 0x03030501: return "ARM";
    case 0x08:
    case 0x03030701: return "ARMT";
    case 0x09:
    case 0x03030805: return "SPARC";
    case 0x0A: return "ARM64";
    case 0x0B: return "RISCV";
    default: return "Filter";
  }
}

// A dictionary as 7-Zip names it: the power of two, else the size in MiB or KiB.
std::string Dictionary(uint64_t size) {
  for (unsigned bits = 0; bits < 64; ++bits)
    if (size == uint64_t{1} << bits) return frame::FormatText("%u", bits);
  if (size % (1u << 20) == 0) return frame::FormatText("%" PRIu64 "m", size >> 20);
  return frame::FormatText("%" PRIu64 "k", size >> 10);
}

std::string Method(const CoderRecord& c) {
  std::string text;
  if (c.chain_flags & kChainBcj) text += "BCJ";
  if (c.chain_flags & kChainBcj2) text += "BCJ2";
  if (c.chain_flags & kChainOther) {
    text += FilterName(c.filter_id);
    if (c.filter_id == 0x03 && c.delta_distance != 0) text += frame::FormatText(":%u", c.delta_distance);
  }
  text += MethodName(c.method);
  if (c.method == kLzma2 && c.properties_size == 1 && c.properties[0] <= 40) {
    const uint8_t b = c.properties[0];
    text += ':';
    text += Dictionary(b == 40 ? 0xFFFFFFFFu : uint64_t{2u | (b & 1u)} << (b / 2 + 11));
  }
  // Long chains widen the column rather than lose their names.
  if (text.size() <= 12)
    text.resize(12, ' ');
  else
    text += ' ';
  return text;
}

std::string HeaderLine(const CoderRecord& c) {
  std::string text = "\r\nHeader  :";
  const bool compressed = c.chain_flags & kChainCompress, encrypted = c.chain_flags & kChainAes;
  if (compressed) {
    text += " Compress";
    if (c.method == kDeflate) text += " (Deflate)";
    if (c.method == kBzip2) text += " (BZip2)";
    if (c.method == kLzma) text += " (LZMA)";
    if (encrypted) text += " &";
  }
  if (encrypted)
    text += frame::FormatText(" Encrypt (%u %u %u)", static_cast<unsigned>(c.cycles_power),
                              static_cast<unsigned>(c.salt_size), static_cast<unsigned>(c.iv_size));
  return text;
}

StatusCode Body(frame::ListingText& text, const platform::WidePath& path, OpenedArchive& a) {
  const ArchiveIndex& index = a.index;
  std::string name;
  if (!frame::ListingName(path.c_str(), name)) return SystemCode(SysCall::WideToMultiByte, 0, 0x01);
  std::string head = "Archive : ";
  head += name;
  if (StatusCode code = text.Add(head)) return code;
  const bool solid = index.folders.size() != index.streams.size();
  head = frame::FormatText("\r\nSize    : %" PRIu64 "\r\nContent : %lu\r\nBlock   : %lu", a.file_size,
                           static_cast<unsigned long>(index.entries.size()),
                           static_cast<unsigned long>(index.folders.size()));
  if (solid) head += " (Solid)";
  if (a.header_packed) head += HeaderLine(a.header_coder);
  head += "\r\n\r\n";
  head += kColumns;
  if (StatusCode code = text.Add(head)) return code;

  uint32_t files = 0, empties = 0, folders = 0;
  uint64_t total_size = 0, total_packed = 0;
  std::string line;
  for (size_t i = 0; i < index.entries.size(); ++i) {
    const EntryInfo& e = index.entries[i];
    if ((i + 1) % 10 == 1)
      if (StatusCode code = text.Add(kRule)) return code;
    const char16_t* entry_name = index.name(e);
    if (StatusCode code = frame::CheckName(entry_name, frame::kRefusedEntryName)) return code;
    line = frame::ListingTime(e.mtime_defined ? e.mtime : 0);
    line += frame::ListingAttributes(e.attributes);
    uint64_t size = 0, packed = 0;
    if (e.kind == EntryKind::kData) {
      const StreamInfo& s = index.streams[e.stream];
      const FolderInfo& f = index.folders[s.folder];
      size = s.size;
      packed = e.stream == f.first_stream ? f.packed_size : 0;
      line += Method(f.coder);
      if (f.coder.chain_flags & kChainAes)
        line += frame::FormatText("%2u %2u %2u ", static_cast<unsigned>(f.coder.cycles_power),
                                  static_cast<unsigned>(f.coder.salt_size),
                                  static_cast<unsigned>(f.coder.iv_size));
      else
        line += "         ";
      line +=
          s.crc_defined ? frame::FormatText("%08lX", static_cast<unsigned long>(s.crc)) : std::string(8, ' ');
      line += frame::FormatText("%13" PRIu64 "%13" PRIu64 " ", size, packed);
      ++files;
    } else if (e.kind == EntryKind::kEmptyFile) {
      line += " Empty                       ";
      line += frame::FormatText("%13" PRIu64 "%13" PRIu64 " ", size, packed);
      ++empties;
    } else {
      line += " Folder                      ";
      line += frame::FormatText("             %13" PRIu64 " ", packed);
      ++folders;
    }
    if (!frame::ListingName(entry_name, name)) return SystemCode(SysCall::WideToMultiByte, 0, 0x02);
    line += name;
    line += "\r\n";
    if (StatusCode code = text.Add(line)) return code;
    total_size += size;
    total_packed += packed;
  }
  if (StatusCode code = text.Add(kRule)) return code;
  return text.Add(frame::FormatText("  %7lu files %7lu empties %7lu folders       %13" PRIu64 "%13" PRIu64
                                    "\r\n",
                                    static_cast<unsigned long>(files), static_cast<unsigned long>(empties),
                                    static_cast<unsigned long>(folders), total_size, total_packed));
}

}  // namespace

StatusCode svz_list(void* parent, const char* archive, const char* password, char* output,
                    uint32_t output_size, const uint32_t* options) {
  if (output == nullptr || output_size == 0) return ConditionCode(Cls::BadArgument, 0, 0x03);
  uint32_t flags = options != nullptr ? options[0] & frame::CallFrame::kFlagAskPassword : 0;
  return frame::RunExport(parent, flags, [&](frame::CallFrame&) -> StatusCode {
    frame::ListingText text(output, output_size);
    platform::WidePath path;
    if (StatusCode code = frame::ToWidePath(archive, path)) return code;
    ReaderSecrets secrets;
    secrets.password.Set(password);
    secrets.ask = flags & frame::CallFrame::kFlagAskPassword;
    ReadOptions read;
    read.open_failure = SystemCode(SysCall::CreateFile, 0, 0x01);
    read.password_conversion = SystemCode(SysCall::MultiByteToWide, 0, 0x02);
    OpenedArchive a;
    if (StatusCode code = OpenArchive(path.c_str(), read, secrets, a)) return code;
    if (!a.file.Close()) return SystemCode(SysCall::CloseHandle, 0, 0x00);
    return Body(text, path, a);
  });
}

}  // namespace tx::svz
