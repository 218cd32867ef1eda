// Shared helpers of the 7z reading tests: archives made by 7zz, archives patched after
// the fact (their CRCs made right again), and short ways to call the exports.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "crypto/crc.h"
#include "scripted_ui.h"
#include "tessarex.h"
#include "test_support.h"

namespace tx::test {

namespace fs = std::filesystem;

inline uint32_t Crc(const std::string& s, size_t at = 0, size_t size = std::string::npos) {
  size = std::min(size, s.size() - at);
  return crypto::Crc32Update(0xFFFFFFFFu, reinterpret_cast<const uint8_t*>(s.data()) + at, size) ^
         0xFFFFFFFFu;
}
inline void Store32(std::string& s, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>(v >> (8 * i));
}
inline uint64_t Load64(const std::string& s, size_t at) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = v << 8 | static_cast<uint8_t>(s[at + i]);
  return v;
}

// After a change of the plain header at the end of an archive (no stub in front): both
// CRCs made right again, so the change itself is what the reader meets.
inline void FixCrcs(std::string& a) {
  size_t next = 32 + Load64(a, 12);
  size_t size = a.size() - next;
  for (int i = 0; i < 8; ++i) a[20 + i] = static_cast<char>(uint64_t{size} >> (8 * i));
  Store32(a, 28, Crc(a, next, size));
  Store32(a, 8, Crc(a, 12, 20));
}

// A name as 7z stores it.
inline std::string Utf16(const std::string& ascii) {
  std::string out;
  for (char c : ascii) out += c, out += '\0';
  return out;
}

class SvzScratch : public ::testing::Test {
 protected:
  TempDir dir;

  std::string Out() {
    std::string out = dir / ("out" + std::to_string(++outs_));
    fs::create_directories(out);
    return out;
  }
  std::string Save(const std::string& bytes) {
    std::string path = dir / ("made" + std::to_string(++saves_) + ".7z");
    WriteFile(path, bytes);
    return path;
  }
  // A source tree under src/: name -> content; a name ending in "/" is a folder.
  std::string Source(const std::map<std::string, std::string>& files) {
    std::string src = dir / "src";
    fs::remove_all(src);
    fs::create_directories(src);
    for (const auto& [name, content] : files) {
      if (name.back() == '/') {
        fs::create_directories(src + "/" + name);
      } else {
        fs::create_directories(fs::path(src + "/" + name).parent_path());
        WriteFile(src + "/" + name, content);
      }
    }
    return src;
  }
  // 7zz over everything in the source tree.
  std::string SevenZip(const std::string& switches) {
    std::string archive = dir / ("peer" + std::to_string(++saves_) + ".7z");
    int status = 0;
    Shell("cd " + Quote(dir / "src") + " && 7zz a -t7z -bd -mmt=1 " + switches + " " + Quote(archive) +
              " . > /dev/null 2>&1",
          &status);
    EXPECT_EQ(status, 0) << switches;
    return archive;
  }
  // The source packed by svz_pack3 with an LZMA header encrypted at a cheap key
  // derivation (2^4 rounds), so that tests may open it thousands of times.
  std::string OwnEncrypted(const char* password) {
    std::string archive = dir / ("own" + std::to_string(++saves_) + ".7z");
    uint32_t options[16] = {0, 0, 3, 5, 0, 0, 3, 3, 1, 4, 8, 16, 0, 0, 0, 0};
    EXPECT_EQ(svz_pack3(nullptr, archive.c_str(), (dir / "src/*").c_str(), password, options), 0u);
    return archive;
  }
  static std::map<std::string, std::string> Tree(const std::string& root) {
    std::map<std::string, std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
      std::string name = fs::relative(e.path(), root).string();
      if (e.is_directory())
        out[name + "/"] = "";
      else
        out[name] = ReadFile(e.path());
    }
    return out;
  }
  static uint32_t Unpack(int variant, const std::string& archive, const std::string& out,
                         const char* password = nullptr, uint32_t flags = 0, const char* filter = nullptr,
                         uint32_t demand = 0) {
    uint32_t options[2] = {demand, flags};
    if (variant == 1) return svz_unpack1(nullptr, archive.c_str(), out.c_str(), password, options);
    if (variant == 2) return svz_unpack2(nullptr, archive.c_str(), out.c_str(), filter, password, options);
    return svz_unpack3(nullptr, archive.c_str(), out.c_str(), filter, password, options);
  }
  static uint32_t List(const std::string& archive, std::string& text, const char* password = nullptr,
                       uint32_t capacity = 1 << 20) {
    std::vector<char> buffer(capacity + 1, 'x');
    uint32_t options[1] = {0};
    uint32_t code = svz_list(nullptr, archive.c_str(), password, buffer.data(), capacity, options);
    text = buffer.data();
    return code;
  }

 private:
  int outs_ = 0, saves_ = 0;
};

}  // namespace tx::test
