// A fresh folder per test and small helpers for the platform tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/fs.h"
#include "platform/text.h"

namespace tx::platform::test {

namespace fs = std::filesystem;

inline std::u16string W(const std::string& utf8) {
  WidePath path;
  EXPECT_TRUE(Utf8ToUtf16(utf8.c_str(), path.units, kWidePathUnits)) << utf8;
  return path.units;
}

inline std::string U8(const char16_t* text) {
  std::string out;
  EXPECT_TRUE(Utf16ToUtf8(text, out));
  return out;
}

inline void WriteText(const fs::path& path, const std::string& text) { std::ofstream(path) << text; }
inline std::string ReadText(const fs::path& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// What GetFileInfo reports; attributes kNoInfo when it fails.
inline constexpr uint32_t kNoInfo = 0xFFFFFFFF;
inline FileInfo Info(const std::string& path) {
  FileInfo info;
  if (!GetFileInfo(W(path).c_str(), info)) info.attributes = kNoInfo;
  return info;
}

// A new folder under `parent`, or "" when none can be made there.
inline std::string MakeUniqueDir(const std::string& parent) {
  std::string name = parent + "/tx-platform-XXXXXX";
  return ::mkdtemp(name.data()) != nullptr ? name : std::string();
}

class ScratchTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE((dir_ = MakeUniqueDir(fs::temp_directory_path().string())).empty()); }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  std::u16string WPath(const std::string& name) const { return W(Path(name)); }

  std::string dir_;
};

}  // namespace tx::platform::test
