#include "pea/pea_pack.h"

#include <cstring>
#include <string>

#include "frame/bytes.h"
#include "frame/call_frame.h"
#include "frame/folder_walk.h"
#include "frame/output_file.h"
#include "frame/paths.h"
#include "frame/random.h"
#include "pea/pea_open.h"
#include "platform/cores.h"
#include "platform/dir_search.h"
#include "platform/fs.h"
#include "ui/progress.h"

namespace tx::pea {

namespace {

using platform::SysCall;
using platform::WidePath;

bool IsCheckOption(uint32_t id) { return id <= 3 || (id >= 16 && id <= 21); }
bool IsStreamOption(uint32_t id) {
  return IsCheckOption(id) || id == kModeAes128Hmac || id == kModeAes128Eax || id == kModeAes256Eax;
}

// The option words common to both exports, tested in the order the callers rely on.
StatusCode CheckOptions(const uint32_t* o) {
  if (o[2] > 3) return ConditionCode(Cls::BadOption, 0, 0x02);
  if (!IsCheckOption(o[3])) return ConditionCode(Cls::BadOption, 0, 0x03);
  // Ids 50 to 64 name no mode: refused here rather than packed without protection.
  if (!IsStreamOption(o[4])) return ConditionCode(Cls::BadOption, 0, 0x04);
  if (o[0] != 0 && o[4] < 48) return ConditionCode(Cls::PasswordProblem, 0, 0x00);
  if (!IsCheckOption(o[5])) return ConditionCode(Cls::BadOption, 0, 0x05);
  if (o[6] != kTimeDos && o[6] != kTimeUnix) return ConditionCode(Cls::BadOption, 0, 0x06);
  return kOk;
}

bool Assign(WidePath& out, const std::u16string& text) {
  if (text.size() >= platform::kWidePathUnits) return false;
  std::char_traits<char16_t>::copy(out.units, text.c_str(), text.size() + 1);
  return true;
}

// The platform path of a stored name: "\" separators become "/".
std::u16string PlatformPath(const char16_t* base, const char16_t* name) {
  std::u16string path = base;
  for (const char16_t* p = name; *p; ++p) path += *p == u'\\' ? u'/' : *p;
  return path;
}

// Everything an archive being written needs, from its header to its trailer.
struct PeaWriter {
  frame::OutputFile out;
  PeaArchiveInfo info;
  PeaLevels levels;
  uint8_t header[kKeyHeaderSize] = {};
  BlockPipeline blocks;
};

StatusCode Begin(PeaWriter& w, const uint32_t* o, const char16_t* archive, const frame::Password& password,
                 const char16_t* key_file) {
  w.info.compression = o[2];
  w.info.volume_algorithm = o[3];
  w.info.stream_algorithm = o[4];
  w.info.object_algorithm = o[5];
  w.info.time_encoding = o[6];
  if (w.info.compression != 0 && !w.blocks.Start(static_cast<int>(3 * w.info.compression),
                                                 platform::WorkerThreads(2), w.info.block_size))
    return ConditionCode(Cls::CoderInit, 0, 0x00);
  if (!w.out.Create(archive)) return SystemCode(SysCall::CreateFile, 0, 0x00);
  platform::File& file = w.out.file();
  auto volume = static_cast<uint8_t>(w.info.volume_algorithm);
  pea_check_init(volume, w.levels.volume);
  if (StatusCode code = pea_write_header(file, w.header, w.info, w.levels.volume)) return code;

  auto stream = static_cast<uint8_t>(w.info.stream_algorithm);
  if (IsEncryptionMode(stream)) {
    PeaKeyMaterial material;
    if (StatusCode code = material.Build(password.c_str(), w.header, key_file)) return code;
    if (StatusCode code = frame::RandomBytes(w.info.salt, kSaltSize)) return code;
    if (!pea_stream_setup(material.data(), material.size(), w.info, w.levels.stream))
      return ConditionCode(Cls::NoMemory, 0, 0x00);
    material.Wipe();
    uint8_t crypto_header[kCryptoHeaderSize] = {};
    std::memcpy(crypto_header + 2, w.info.salt, kSaltSize);
    frame::StoreU16(crypto_header + 14, w.info.verifier);
    pea_check_update(crypto_header, sizeof crypto_header, volume, w.levels.volume);
    if (!file.Write(crypto_header, sizeof crypto_header))
      return SystemCode(SysCall::WriteFile, place::kWrite, 0x11);
  } else {
    if (!pea_stream_setup(nullptr, 0, w.info, w.levels.stream)) return ConditionCode(Cls::NoMemory, 0, 0x00);
    uint8_t copy[kHeaderSize];
    std::memcpy(copy, w.header, kHeaderSize);
    pea_stream_encrypt(copy, kHeaderSize, stream, w.levels.stream);
  }
  if (w.info.compression != 0) {
    uint8_t field[4];
    frame::StoreU32(field, kPeaBlockSize);
    if (StatusCode code = pea_write_protected(file, field, 4, w.info, w.levels, false,
                                              SystemCode(SysCall::WriteFile, place::kWrite, 0x41)))
      return code;
  }
  return kOk;
}

StatusCode Finish(PeaWriter& w) {
  if (StatusCode code = pea_write_trailer(w.out.file(), w.info, w.levels)) return code;
  return w.out.Commit() ? kOk : SystemCode(SysCall::CloseHandle, 0, 0x00);
}

StatusCode AllocateBuffers(PeaWriter& w) {
  // Stored content passes through one buffer; compressing calls get theirs at the start.
  if (!w.blocks.Start(0, 1, kPeaBlockSize)) return ConditionCode(Cls::NoMemory, 0, 0x01);
  return kOk;
}

// Adds one entry matched at the top, and for a folder everything below it.
StatusCode AddFound(frame::FolderWalk& walk, const platform::FindData& found, frame::NameBuffer& names,
                    uint32_t& count) {
  size_t length = found.name.length();
  if (length + 1 >= platform::kWidePathUnits) return ConditionCode(Cls::NameLength, 0, 0x01);
  if (!names.Append(found.name.c_str(), length)) return ConditionCode(Cls::NoMemoryGrow, 0, 0x01);
  ++count;
  if (!(found.attributes & platform::kAttrDirectory)) return kOk;
  return walk.Descend(found.name.c_str(), found,
                      [&](const std::u16string& name, const platform::FindData&) -> StatusCode {
                        if (!names.Append(name.c_str(), name.size()))
                          return ConditionCode(Cls::NothingToDo, 0, 0x01);
                        ++count;
                        return kOk;
                      });
}

}  // namespace

StatusCode pea_pack_object(platform::File& archive, const char16_t* path, uint32_t flags,
                           BlockPipeline& blocks, const PeaArchiveInfo& info, PeaLevels& levels,
                           const PeaObjectEntry& entry) {
  constexpr uint8_t kPlace = place::kPackObject;
  const StatusCode read_error = SystemCode(SysCall::ReadFile, kPlace, 0x01);
  platform::File source;
  if (entry.size != 0 &&
      !source.Open(path, platform::Access::Read, platform::Disposition::OpenExisting, true))
    return read_error;
  auto object = static_cast<uint8_t>(info.object_algorithm);
  pea_check_init(object, levels.object);
  if (StatusCode code = pea_write_object(archive, info, levels, entry)) return code;

  uint8_t field[4];
  size_t last = 0;
  uint64_t remaining = entry.size;
  while (remaining > 0 || blocks.Busy()) {
    // Read ahead while slots are free, so that the other core has blocks to compress.
    for (BlockPipeline::Slot* slot; remaining > 0 && (slot = blocks.Free()) != nullptr;) {
      size_t n = remaining < info.block_size ? static_cast<size_t>(remaining) : info.block_size;
      if (!source.Read(slot->data, n)) return read_error;
      slot->size = n;
      remaining -= n;
      last = n;
      if ((flags & 1) && ui::ProgressUpdate(static_cast<uint32_t>(100 - remaining * 100 / entry.size)) != 0)
        return ConditionCode(Cls::Cancelled, kPlace, 0x01);
      blocks.Submit();
    }
    BlockPipeline::Slot& block = blocks.Oldest();
    uint8_t* data = block.data;
    const size_t n = block.size;
    if (info.compression == 0) {
      if (StatusCode code = pea_write_protected(archive, data, n, info, levels, true,
                                                SystemCode(SysCall::WriteFile, kPlace, 0x05)))
        return code;
      blocks.Release();
      continue;
    }
    long packed = block.packed_size;
    if (packed < 0) return ConditionCode(Cls::CoderFailed, kPlace, 0x01);
    bool raw = packed == 0 || static_cast<size_t>(packed) >= n;
    size_t stored = raw ? n : static_cast<size_t>(packed);
    frame::StoreU32(field, static_cast<uint32_t>(stored));
    if (StatusCode code = pea_write_protected(archive, field, 4, info, levels, true,
                                              SystemCode(SysCall::WriteFile, kPlace, 0x02)))
      return code;
    pea_check_update(data, n, object, levels.object);  // before a raw block is encrypted in place
    if (StatusCode code = pea_write_protected(archive, raw ? data : block.packed, stored, info, levels, false,
                                              SystemCode(SysCall::WriteFile, kPlace, 0x03)))
      return code;
    blocks.Release();
  }
  if (info.compression != 0 && entry.size != 0) {
    frame::StoreU32(field, static_cast<uint32_t>(last));
    if (StatusCode code = pea_write_protected(archive, field, 4, info, levels, true,
                                              SystemCode(SysCall::WriteFile, kPlace, 0x04)))
      return code;
  }
  uint8_t tag[kMaxCheckSize];
  size_t size = pea_check_final(object, tag, levels.object);
  return size == 0 ? kOk
                   : pea_write_protected(archive, tag, size, info, levels, false,
                                         SystemCode(SysCall::WriteFile, kPlace, 0x06));
}

StatusCode pea_pack1(void* parent, const char* archive, const char* source, const char* password,
                     const char* key_file, const uint32_t* options) {
  if (options == nullptr) return ConditionCode(Cls::BadArgument, 0, 0x00);
  return frame::RunExport(parent, options[1], [&](frame::CallFrame& frame) -> StatusCode {
    PeaWriter w;
    if (StatusCode code = AllocateBuffers(w)) return code;
    if (StatusCode code = CheckOptions(options)) return code;
    WidePath archive_path, source_path, key_path, base, name;
    if (StatusCode code = frame::ToWidePath(archive, archive_path)) return code;
    if (StatusCode code = frame::ToWidePath(source, source_path)) return code;
    if (StatusCode code = OptionalPath(key_file, key_path, SystemCode(SysCall::MultiByteToWide, 0, 0x00)))
      return code;
    if (StatusCode code = frame::SplitSourcePath(source_path.c_str(), base, name)) return code;
    if (frame.progress() &&
        ui::ProgressOpen(1, 1, 3002, archive_path.c_str(), base.c_str(), name.c_str()) != 0)
      return ConditionCode(Cls::Cancelled, 0, 0x01);
    frame::Password pass;
    if (IsEncryptionMode(static_cast<uint8_t>(options[4])))
      if (StatusCode code = pass.Take(password, frame.flags() & 4, ConditionCode(Cls::Cancelled, 0, 0x02)))
        return code;
    std::u16string full = std::u16string(base.c_str()) + name.c_str();
    platform::FileInfo found;
    // Devices and pipes report no attributes: they are not files to pack.
    if (!platform::GetFileInfo(full.c_str(), found) || found.attributes == 0)
      return SystemCode(SysCall::GetFileAttributes, 0, 0x00);
    if (found.attributes & platform::kAttrDirectory) return ConditionCode(Cls::NoDirectory, 0, 0x00);
    // The archive replaces its file only at the end; an input of that name would be lost.
    if (platform::SameFile(full.c_str(), archive_path.c_str()) ||
        (!key_path.empty() && platform::SameFile(key_path.c_str(), archive_path.c_str())))
      return SystemCode(SysCall::CreateFile, 0, 0x00);

    if (StatusCode code = Begin(w, options, archive_path.c_str(), pass, key_path.c_str())) return code;
    PeaObjectEntry entry;
    entry.attributes = found.attributes;
    entry.size = found.size;
    entry.last_write = found.last_write;
    entry.name = name;
    if (StatusCode code =
            pea_pack_object(w.out.file(), full.c_str(), frame.flags(), w.blocks, w.info, w.levels, entry))
      return code;
    return Finish(w);
  });
}

StatusCode pea_pack2(void* parent, const char* archive, const char* source, const char* password,
                     const char* key_file, const uint32_t* options) {
  if (options == nullptr) return ConditionCode(Cls::BadArgument, 0, 0x00);
  return frame::RunExport(parent, options[1], [&](frame::CallFrame& frame) -> StatusCode {
    PeaWriter w;
    if (StatusCode code = AllocateBuffers(w)) return code;
    frame::NameBuffer names;
    if (!names.Reserve(frame::NameBuffer::kGrowUnits)) return ConditionCode(Cls::NoMemory, 0, 0x03);
    if (StatusCode code = CheckOptions(options)) return code;
    WidePath archive_path, source_path, key_path, base, pattern;
    if (StatusCode code = frame::ToWidePath(archive, archive_path)) return code;
    if (StatusCode code = frame::ToWidePath(source, source_path)) return code;
    if (StatusCode code = OptionalPath(key_file, key_path, SystemCode(SysCall::MultiByteToWide, 0, 0x00)))
      return code;
    uint32_t count = 0;
    bool list_file = options[7] != 0;
    // The archive replaces its file only at the end; an input of that name would be lost.
    if ((list_file && platform::SameFile(source_path.c_str(), archive_path.c_str())) ||
        (!key_path.empty() && platform::SameFile(key_path.c_str(), archive_path.c_str())))
      return SystemCode(SysCall::CreateFile, 0, 0x00);
    if (list_file) {
      if (StatusCode code = frame::ReadListFile(source_path.c_str(), base, count, names)) return code;
    } else if (StatusCode code = frame::SplitSourcePath(source_path.c_str(), base, pattern)) {
      return code;
    }
    if (frame.progress() && ui::ProgressOpen(1, 1, 3002, archive_path.c_str(), base.c_str(), nullptr) != 0)
      return ConditionCode(Cls::Cancelled, 0, 0x01);
    frame::Password pass;
    if (IsEncryptionMode(static_cast<uint8_t>(options[4])))
      if (StatusCode code = pass.Take(password, frame.flags() & 4, ConditionCode(Cls::Cancelled, 0, 0x02)))
        return code;

    if (!list_file) {
      // A folder given with a final separator is searched as the folder itself.
      std::u16string search = std::u16string(base.c_str()) + pattern.c_str();
      while (!search.empty() && search.back() == u'/') search.pop_back();
      platform::FileInfo folder;
      if (!platform::GetFileInfo(base.c_str(), folder) || !(folder.attributes & platform::kAttrDirectory))
        return SystemCode(SysCall::FindFirstFile, 0, 0x01);
      frame::FolderWalk walk(base.c_str(), u'\\');
      walk.LeaveOut(archive_path.c_str());
      walk.Enter(folder);
      platform::DirSearch finder;
      platform::FindData found;
      if (!finder.First(search.c_str(), found)) {
        if (finder.unreadable()) return SystemCode(SysCall::FindFirstFile, 0, 0x01);
        if (finder.invalid_names() != 0)
          return SystemCode(SysCall::MultiByteToWide, frame::kPlaceFolderWalk, 0x01);
        return ConditionCode(Cls::NothingToDo, 0, 0x02);
      }
      if (finder.invalid_names() != 0)
        return SystemCode(SysCall::MultiByteToWide, frame::kPlaceFolderWalk, 0x01);
      do {
        if (walk.IsLeftOut(found)) continue;
        if (StatusCode code = AddFound(walk, found, names, count)) return code;
      } while (finder.Next(found));
    }

    if (StatusCode code = Begin(w, options, archive_path.c_str(), pass, key_path.c_str())) return code;
    platform::FileInfo archive_info;
    const bool archive_exists = platform::GetFileInfo(archive_path.c_str(), archive_info);
    const char16_t* name = names.data();
    for (uint32_t index = 1; index <= count; ++index, name += platform::Utf16Length(name) + 1) {
      std::u16string full = PlatformPath(base.c_str(), name);
      if (full.size() >= platform::kWidePathUnits) return ConditionCode(Cls::NameLength, 0, 0x02);
      if (frame.progress() && ui::ProgressOpen(index, count, 3002, nullptr, nullptr, name) != 0)
        return ConditionCode(Cls::Cancelled, 0, 0x03);
      platform::FileInfo found;
      if (!platform::GetFileInfo(full.c_str(), found)) return SystemCode(SysCall::FindFirstFile, 0, 0x02);
      // A list may name the archive being replaced: it cannot hold itself.
      if (archive_exists && platform::IsSameFile(found, archive_info)) continue;
      PeaObjectEntry entry;
      entry.attributes = found.attributes;
      entry.last_write = found.last_write;
      std::u16string stored = name;
      if (found.attributes & platform::kAttrDirectory) {
        stored += u'\\';
      } else {
        entry.size = found.size;
      }
      if (!Assign(entry.name, stored)) return ConditionCode(Cls::NameLength, 0, 0x02);
      if (StatusCode code =
              pea_pack_object(w.out.file(), full.c_str(), frame.flags(), w.blocks, w.info, w.levels, entry))
        return code;
    }
    return Finish(w);
  });
}

}  // namespace tx::pea
