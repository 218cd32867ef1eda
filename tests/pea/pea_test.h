// Helpers of the PEA end-to-end tests: calls with the usual arguments, trees on disk, the
// independent reader, scripted dialogs and hand-made archives.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <array>
#include <filesystem>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "tessarex.h"
#include "test_support.h"
#include "scripted_ui.h"

namespace tx::test {

namespace fs = std::filesystem;
using Options = std::array<uint32_t, 8>;
using Files = std::map<std::string, std::string>;

// 2021-07-15 11:45:31 UTC, 13:45:31 in the tests' zone (summer time); and a winter time.
inline constexpr int64_t kSummer = 1626349531, kWinter = 1578643397;
inline constexpr uint32_t kNoFlags[2] = {0, 0};

inline Options PackOptions(uint32_t compression, uint32_t volume, uint32_t stream, uint32_t object,
                           uint32_t time = 48) {
  return {0, 0, compression, volume, stream, object, time, 0};
}
inline uint32_t Pack(const std::string& archive, const std::string& source, const Options& o,
                     const char* password = "", const char* key = nullptr) {
  return pea_pack2(nullptr, archive.c_str(), source.c_str(), password, key, o.data());
}
// An empty `out` extracts next to the archive.
inline uint32_t Unpack(const std::string& archive, const std::string& out, const uint32_t* flags = kNoFlags,
                       const char* password = "", const char* key = nullptr, const char* filter = nullptr) {
  return pea_unpack2(nullptr, archive.c_str(), out.empty() ? nullptr : out.c_str(), filter, password, key,
                     flags);
}
inline uint32_t Unpack1(const std::string& archive, const std::string& out,
                        const uint32_t* flags = kNoFlags) {
  return pea_unpack1(nullptr, archive.c_str(), out.empty() ? nullptr : out.c_str(), "", nullptr, flags);
}
// The text a listing leaves in a buffer of `size` bytes: `size` + 1 "Z" when it wrote nothing.
inline std::string List(const std::string& archive, const char* password, uint32_t size, uint32_t* code) {
  std::vector<char> text(size + 2, 'Z');
  text.back() = 0;
  *code = pea_list(nullptr, archive.c_str(), password, nullptr, text.data(), size, kNoFlags);
  return text.data();
}

inline void SetTime(const fs::path& path, int64_t seconds, long nanos = 0) {
  timespec times[2] = {{seconds, nanos}, {seconds, nanos}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}
inline timespec GetTime(const fs::path& path) {
  struct stat st {};
  ::stat(path.c_str(), &st);
  return st.st_mtim;
}

// Everything below `root`: relative path -> content, "<dir>" for a folder.
inline Files Tree(const fs::path& root) {
  Files tree;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
       ++it)
    tree[fs::relative(it->path(), root).string()] = it->is_directory() ? "<dir>" : ReadFile(it->path());
  return tree;
}


// Runs the independent verifier; returns its exit status and leaves its output in `out`.
inline int Reader(const std::string& args, std::string* out = nullptr) {
  static const std::string script = (fs::path(__FILE__).parent_path() / "reader" / "pea_reader.py").string();
  int status = -1;
  std::string text = Shell("/usr/bin/python3 " + script + " " + args + " 2>&1", &status);
  if (out) *out = text;
  return status;
}

// A hand-made archive without checks at any level, so that every byte is the test's own:
// Unix times, stored content (block size 0) or raw blocks of the given block size.
struct Crafted {
  std::string bytes;
  uint32_t block;
  explicit Crafted(uint32_t block_size = 0) : block(block_size) {
    const char header[20] = {
        '\xEA', 1, 0, 0, 0, 0x11, 48, 1, 0x13, 0, 0, 0, 'P', 'O', 'D', 0, char(block ? 1 : 0)};
    bytes.assign(header, 20);
    if (block) U32(block);
  }
  Crafted& Raw(const std::string& s) { return bytes += s, *this; }
  Crafted& U16(uint16_t v) { return Raw(std::string{char(v), char(v >> 8)}); }
  Crafted& U32(uint32_t v) { return U16(uint16_t(v)).U16(uint16_t(v >> 16)); }
  Crafted& U64(uint64_t v) { return U32(uint32_t(v)).U32(uint32_t(v >> 32)); }
  Crafted& Record(const std::string& name, uint64_t size) {
    U16(uint16_t(name.size())).Raw(name).U32(uint32_t(kSummer)).U32(0x20);
    return name.back() == '\\' ? *this : U64(size);
  }
  Crafted& File(const std::string& name, const std::string& content) {
    Record(name, content.size());
    if (!block) return Raw(content);
    for (size_t at = 0; at < content.size(); at += block) {
      std::string piece = content.substr(at, block);
      U32(uint32_t(piece.size())).Raw(piece);
      if (at + block >= content.size()) U32(uint32_t(piece.size()));
    }
    return *this;
  }
  std::string End() const { return bytes + std::string("\0\0EOA\0", 6); }
};

}  // namespace tx::test
