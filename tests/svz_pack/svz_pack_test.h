// Helpers of the 7z packing tests: option words, a source tree, and 7zz run as a black box.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <map>
#include <string>

#include "scripted_ui.h"
#include "tessarex.h"
#include "test_support.h"

namespace tx::test {

namespace fs = std::filesystem;
using Words = std::array<uint32_t, 16>;

struct Options {
  uint32_t method = 3, level = 5, bcj = 0, header = 0, header_method = 3;
  bool encrypt = false;
  uint32_t cycles = 6, salt = 0, iv = 16;
  uint32_t grouping = 0, block_files = 0, block_bytes = 0;
  bool creation_times = false;
  Words words() const {
    Words w{};
    w[2] = method, w[3] = level, w[4] = bcj, w[6] = header, w[7] = header_method;
    w[8] = encrypt, w[9] = cycles, w[10] = salt, w[11] = iv;
    w[13] = grouping, w[14] = block_files, w[15] = block_bytes;
    w[5] = creation_times;
    return w;
  }
};

// Everything below `root`: relative path -> content, "<dir>" for a folder.
inline std::map<std::string, std::string> Tree(const fs::path& root) {
  std::map<std::string, std::string> tree;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it)
    tree[fs::relative(it->path(), root).string()] = it->is_directory() ? "<dir>" : ReadFile(it->path());
  return tree;
}

inline std::string Text(size_t size, unsigned seed) {
  std::string s;
  for (size_t i = seed; s.size() < size; ++i)
    s.append("line ").append(std::to_string(i * 7919 % 1000)).append(" of text\n");
  return s.substr(0, size);
}

// Part of a real x86-64 program, where the branch converter has work to do.
inline std::string Program(size_t from, size_t size) { return ReadFile("/usr/bin/ls").substr(from, size); }

}  // namespace tx::test
