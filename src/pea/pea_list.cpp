#include "pea/pea_list.h"

#include <cinttypes>
#include <cstdio>
#include <string>

#include "frame/call_frame.h"
#include "frame/listing.h"
#include "pea/pea_open.h"
#include "pea/pea_unpack.h"
#include "ui/progress.h"

namespace tx::pea {

namespace {

using platform::SysCall;

constexpr const char* kRule = "---------- -------- ---- ------ ------------ ------------ ------------------------\r\n";




std::string Method(const PeaObjectEntry& entry, uint32_t compression) {
  static const char* const kMethods[] = {"Copy  ", "Fast  ", "Normal", "Better"};
  if (entry.IsFolder()) return "Folder";
  if (entry.size == 0) return "Copy  ";
  return compression <= 3 ? kMethods[compression] : "   ";
}

std::string CheckLine(const char* head, int kind, uint32_t algorithm, bool ok) {
  if (algorithm == kCheckNone) return std::string(head) + "None\r\n";
  return head + pea_check_name(kind, static_cast<uint8_t>(algorithm)) + (ok ? " is OK\r\n" : " is wrong\r\n");
}

}  // namespace

StatusCode pea_list(void* parent, const char* archive, const char* password, const char* key_file, char* output,
                    uint32_t output_size, const uint32_t* options) {
  uint32_t flags = options != nullptr ? options[0] : 0;
  return frame::RunExport(parent, flags, [&](frame::CallFrame& frame) -> StatusCode {
    std::unique_ptr<uint8_t[]> data;
    if (!Allocate(data, kPeaBlockSize)) return ConditionCode(Cls::NoMemory, 0, 0x01);
    platform::WidePath archive_path, key_path;
    if (StatusCode code = frame::ToWidePath(archive, archive_path)) return code;
    if (StatusCode code = OptionalPath(key_file, key_path, SystemCode(SysCall::MultiByteToWide, 0, 0x01))) return code;
    if (output == nullptr || output_size == 0) return kOk;
    if (frame.progress() && ui::ProgressOpen(1, 1, 3004, nullptr, nullptr, archive_path.c_str()) != 0)
      return ConditionCode(Cls::Cancelled, 0, 0x01);

    PeaReader reader;
    PeaOpenRequest request{archive_path.c_str(), password, key_path.c_str(), flags, false, VolumeMismatch::Remember};
    if (StatusCode code = pea_open_archive(request, reader, data, nullptr)) return code;
    BlockInflater inflater;
    PeaObjectReader r{reader.file, reader.info, reader.levels, data.get(), nullptr, inflater, flags};

    frame::ListingText text(output, output_size);
    std::string name;
    if (!frame::ListingName(archive_path.c_str(), name)) return SystemCode(SysCall::WideToMultiByte, 0, 0x01);
    if (StatusCode code = text.Add("Archive : " + name)) return code;
    if (StatusCode code = text.Add(frame::FormatText("\r\nSize    : %" PRIu64 "\r\n", reader.size))) return code;
    if (StatusCode code = text.Add("\r\n   Date      Time   Attr Method        Size   Packed size  Name\r\n"))
      return code;

    uint32_t objects = 0, folders = 0;
    uint64_t total_size = 0, total_packed = 0;
    for (uint32_t index = 1;; ++index) {
      PeaObjectEntry entry;
      auto object = static_cast<uint8_t>(reader.info.object_algorithm);
      pea_check_init(object, reader.levels.object);
      StatusCode code = pea_read_object(reader.file, reader.info, reader.levels, entry);
      if (code == MakeCode(0, 0x7A, place::kRead, 0x21)) break;
      if (code != kOk) return code;
      if (frame.progress() && ui::ProgressOpen(index, 0, 3004, nullptr, nullptr, nullptr) != 0)
        return ConditionCode(Cls::Cancelled, 0, 0x02);
      uint64_t packed = 0;
      if (entry.IsFolder()) {
        uint8_t tag[kMaxCheckSize];
        size_t size = pea_check_final(object, tag, reader.levels.object);
        if (StatusCode read = pea_read_protected(reader.file, tag, size, reader.info, reader.levels, false,
                                                 SystemCode(SysCall::ReadFile, 0, 0x03)))
          return read;
      } else if (StatusCode skip = pea_skip_object(r, packed, entry)) {
        return skip;
      }
      if (index % 10 == 1)
        if (StatusCode add = text.Add(kRule)) return add;
      if (!frame::ListingName(entry.name.c_str(), name)) return SystemCode(SysCall::WideToMultiByte, 0, 0x02);
      std::string sizes = entry.IsFolder() ? frame::FormatText("             %13" PRIu64 " ", packed)
                                           : frame::FormatText("%13" PRIu64 "%13" PRIu64 " ", entry.size, packed);
      std::string line = frame::ListingTime(entry.last_write) + frame::ListingAttributes(entry.attributes) +
                         Method(entry, reader.info.compression) + sizes + name + "\r\n";
      if (StatusCode add = text.Add(line)) return add;
      ++objects;
      folders += entry.IsFolder();
      total_size += entry.size;
      total_packed += packed;
    }
    bool stream_ok = true;
    if (StatusCode code = pea_read_trailer(reader.file, reader.info, reader.levels)) {
      if ((ClassOf(code) >> 16) != MismatchClass(static_cast<uint8_t>(reader.info.stream_algorithm))) return code;
      stream_ok = false;
    }
    const PeaArchiveInfo& info = reader.info;
    for (const std::string& piece :
         {std::string(kRule),
          frame::FormatText(" %7lu files %7lu folders %13" PRIu64 "%13" PRIu64 "\r\n\r\n",
                 static_cast<unsigned long>(objects - folders), static_cast<unsigned long>(folders), total_size,
                 total_packed),
          CheckLine("Volume  : ", 1, info.volume_algorithm, reader.volume_ok),
          CheckLine("Stream  : ", 2, info.stream_algorithm, stream_ok),
          std::string("Object  : ") +
              (info.object_algorithm == kCheckNone ? "None" : pea_check_name(3, static_cast<uint8_t>(info.object_algorithm))) +
              "\r\n"})
      if (StatusCode add = text.Add(piece)) return add;
    return kOk;
  });
}

}  // namespace tx::pea
