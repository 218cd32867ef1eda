// Shared helpers of the ZIP reading tests: a small archive builder that can write what a
// hostile or unusual writer would, and short ways to call the exports.
#pragma once

#include <bzlib.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "crypto/crc.h"
#include "tessarex.h"
#include "test_support.h"
#include "ui/dialogs.h"
#include "scripted_ui.h"
#include "zip/zip_aes.h"

namespace tx::test {

inline void Put16(std::string& s, uint32_t v) {
  s += static_cast<char>(v & 0xFF);
  s += static_cast<char>((v >> 8) & 0xFF);
}
inline void Put32(std::string& s, uint32_t v) {
  Put16(s, v & 0xFFFF);
  Put16(s, v >> 16);
}
inline void Put64(std::string& s, uint64_t v) {
  Put32(s, static_cast<uint32_t>(v));
  Put32(s, static_cast<uint32_t>(v >> 32));
}

inline std::string RawDeflate(const std::string& data) {
  z_stream z{};
  deflateInit2(&z, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&z, data.size()) + 16, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

inline std::string Bzip2(const std::string& data) {
  std::string out(data.size() + data.size() / 100 + 700, '\0');
  unsigned size = static_cast<unsigned>(out.size());
  BZ2_bzBuffToBuffCompress(out.data(), &size, const_cast<char*>(data.data()),
                           static_cast<unsigned>(data.size()), 9, 0, 0);
  out.resize(size);
  return out;
}

inline uint32_t Crc(const std::string& data) {
  return ~crypto::Crc32Update(0xFFFFFFFFu, data.data(), data.size());
}

// One member as a writer might store it. Unset optionals take the honest value.
struct Member {
  std::string name{};
  std::string data{};  // uncompressed content
  uint16_t method = 0;
  uint16_t flags = 0;
  uint16_t dos_time = 0x6458, dos_date = 0x56A6;  // 2023-05-06 12:34:48
  uint32_t attributes = 0x20;
  uint8_t host = 0;
  int aes = 0;  // 1 or 2: WinZip AES with `password` and `key_length`
  uint32_t key_length = 32;
  std::string password{};
  std::string central_extra{};
  std::optional<uint32_t> crc{};
  std::optional<uint64_t> compressed{}, uncompressed{}, offset{};
  std::optional<std::string> stored{};  // the bytes after the local header
};

struct Layout {
  std::optional<uint32_t> entries{}, cd_size{}, cd_offset{};
  bool zip64 = false;  // a Zip64 end record and locator, the end record holding 0xFFFF / 0xFFFFFFFF
  std::string comment{};
};

// The stored bytes of a member: compressed and, for AES, salt, verifier, data and code.
inline std::string StoredBytes(const Member& m) {
  std::string body = m.method == 8 ? RawDeflate(m.data) : m.method == 12 ? Bzip2(m.data) : m.data;
  if (m.aes == 0) return body;
  std::string salt(m.key_length / 2, '\x5A');
  uint8_t verifier[2];
  zip::ZipAesContext context;
  zip::ZipAesSetup(m.key_length, reinterpret_cast<const uint8_t*>(m.password.data()), m.password.size(),
                   reinterpret_cast<const uint8_t*>(salt.data()), verifier, context);
  zip::ZipAesEncrypt(reinterpret_cast<uint8_t*>(body.data()), body.size(), context);
  uint8_t code[10];
  zip::ZipAesFinish(code, context);
  return salt + std::string(reinterpret_cast<char*>(verifier), 2) + body +
         std::string(reinterpret_cast<char*>(code), 10);
}

inline std::string BuildZip(const std::vector<Member>& members, const Layout& layout = {}) {
  std::string out, central;
  for (const Member& m : members) {
    std::string stored = m.stored ? *m.stored : StoredBytes(m);
    uint32_t crc = m.crc ? *m.crc : (m.aes == 2 ? 0 : Crc(m.data));
    uint16_t method = m.aes ? 99 : m.method;
    uint16_t flags = static_cast<uint16_t>(m.flags | (m.aes ? 1 : 0));
    std::string extra = m.central_extra;
    if (m.aes) {
      Put16(extra, 0x9901), Put16(extra, 7), Put16(extra, m.aes);
      extra += "AE";
      extra += static_cast<char>((m.key_length - 8) / 8);
      Put16(extra, m.method);
    }
    uint64_t offset = m.offset ? *m.offset : out.size();
    uint64_t csize = m.compressed ? *m.compressed : stored.size();
    uint64_t usize = m.uncompressed ? *m.uncompressed : m.data.size();
    // Local header: honest sizes, no extra field.
    Put32(out, 0x04034b50), Put16(out, 20), Put16(out, flags), Put16(out, method);
    Put16(out, m.dos_time), Put16(out, m.dos_date), Put32(out, crc);
    Put32(out, static_cast<uint32_t>(stored.size())), Put32(out, static_cast<uint32_t>(m.data.size()));
    Put16(out, static_cast<uint32_t>(m.name.size())), Put16(out, 0);
    out += m.name + stored;

    Put32(central, 0x02014b50), Put16(central, m.host << 8 | 62), Put16(central, 20), Put16(central, flags);
    Put16(central, method), Put16(central, m.dos_time), Put16(central, m.dos_date), Put32(central, crc);
    Put32(central, static_cast<uint32_t>(csize)), Put32(central, static_cast<uint32_t>(usize));
    Put16(central, static_cast<uint32_t>(m.name.size())), Put16(central, static_cast<uint32_t>(extra.size()));
    Put16(central, 0), Put16(central, 0), Put16(central, 0), Put32(central, m.attributes);
    Put32(central, static_cast<uint32_t>(offset));
    central += m.name + extra;
  }
  uint64_t cd_offset = layout.cd_offset ? *layout.cd_offset : out.size();
  uint32_t cd_size = layout.cd_size ? *layout.cd_size : static_cast<uint32_t>(central.size());
  uint32_t entries = layout.entries ? *layout.entries : static_cast<uint32_t>(members.size());
  out += central;
  if (layout.zip64) {
    uint64_t record = out.size();
    Put32(out, 0x06064b50), Put64(out, 44), Put16(out, 62), Put16(out, 45), Put32(out, 0), Put32(out, 0);
    Put64(out, entries), Put64(out, entries), Put64(out, cd_size), Put64(out, cd_offset);
    Put32(out, 0x07064b50), Put32(out, 0), Put64(out, record), Put32(out, 1);
  }
  Put32(out, 0x06054b50), Put16(out, 0), Put16(out, 0);
  uint32_t entries16 = layout.zip64 ? 0xFFFF : (entries > 0xFFFF ? 0xFFFF : entries);
  Put16(out, entries16), Put16(out, entries16), Put32(out, cd_size);
  Put32(out, layout.zip64 ? 0xFFFFFFFFu : static_cast<uint32_t>(cd_offset));
  Put16(out, static_cast<uint32_t>(layout.comment.size()));
  return out + layout.comment;
}


// Every regular file under `root` by its relative name, with its content.
// An archive whose central directory is encrypted (AES-128 named in a version 2 Zip64
// record; the directory starts with its decryption header), which no reader here opens yet.
inline std::string EncryptedDirectoryArchive() {
  std::string encrypted = "junk";
  Put16(encrypted, 16), encrypted += std::string(16, 'i'), Put32(encrypted, 4), Put32(encrypted, 0);
  Put32(encrypted, 0x06064b50), Put64(encrypted, 76), Put16(encrypted, 62), Put16(encrypted, 62);
  Put32(encrypted, 0), Put32(encrypted, 0), Put64(encrypted, 0), Put64(encrypted, 1), Put64(encrypted, 26);
  Put64(encrypted, 4), Put16(encrypted, 0), Put64(encrypted, 26), Put64(encrypted, 26),
      Put16(encrypted, 0x660E);
  Put16(encrypted, 128), Put16(encrypted, 1), Put16(encrypted, 1), Put16(encrypted, 4), Put32(encrypted, 0);
  Put32(encrypted, 0x07064b50), Put32(encrypted, 0), Put64(encrypted, 30), Put32(encrypted, 1);
  Put32(encrypted, 0x06054b50), Put32(encrypted, 0), Put16(encrypted, 0), Put16(encrypted, 0xFFFF);
  Put32(encrypted, 26), Put32(encrypted, 0xFFFFFFFF), Put16(encrypted, 0);
  return encrypted;
}

// A scratch folder with numbered archives and output folders.
class ZipScratch : public ::testing::Test {
 protected:
  std::string Save(const std::string& bytes) {
    std::string path = dir_ / ("a" + std::to_string(++count_) + ".zip");
    WriteFile(path, bytes);
    return path;
  }
  std::string Archive(const std::vector<Member>& members, const Layout& layout = {}) {
    return Save(BuildZip(members, layout));
  }
  std::string Out() {
    std::string path = dir_ / ("out" + std::to_string(++count_));
    std::filesystem::create_directory(path);
    return path;
  }
  TempDir dir_;
  int count_ = 0;
};

inline std::map<std::string, std::string> Tree(const std::filesystem::path& root) {
  std::map<std::string, std::string> files;
  for (auto& e : std::filesystem::recursive_directory_iterator(root)) {
    std::string name = std::filesystem::relative(e.path(), root).string();
    files[name + (e.is_directory() ? "/" : "")] = e.is_directory() ? "" : ReadFile(e.path());
  }
  return files;
}

inline uint32_t Unpack2(const std::string& archive, const std::string& to, const char* password = nullptr,
                        uint32_t flags = 0, const char* filter = nullptr, uint32_t demand = 0) {
  uint32_t options[2] = {demand, flags};
  return zip_unpack2(nullptr, archive.c_str(), to.c_str(), filter, password, options);
}

inline uint32_t Unpack1(const std::string& archive, const std::string& to, const char* password = nullptr,
                        uint32_t flags = 0, uint32_t demand = 0) {
  uint32_t options[2] = {demand, flags};
  return zip_unpack1(nullptr, archive.c_str(), to.c_str(), password, options);
}

inline uint32_t List(const std::string& archive, std::string& text, uint32_t size = 1 << 20,
                     uint32_t flags = 0) {
  std::vector<char> buffer(size + 1, '\x7F');
  buffer[size] = 0;
  uint32_t options[1] = {flags};
  uint32_t code = zip_list(nullptr, archive.c_str(), nullptr, buffer.data(), size, options);
  text = buffer.data();
  return code;
}

}  // namespace tx::test
