// Helpers of the ZIP packing tests: option words, an independent reader of the records we
// write, and the peers run as black boxes.
#pragma once

#include <bzlib.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "scripted_ui.h"
#include "tessarex.h"
#include "test_support.h"

namespace tx::test {

namespace fs = std::filesystem;
using Words = std::array<uint32_t, 15>;

inline Words Pack(uint32_t method = 8, uint32_t level = 6) { return {0, 0, method, level}; }
inline Words Aes(uint32_t kind, uint32_t key_length, uint32_t method = 8) {
  return {0, 0, method, 6, 0, kind, key_length};
}

// Everything below `root`: relative path -> content, "<dir>" for a folder.
inline std::map<std::string, std::string> Tree(const fs::path& root) {
  std::map<std::string, std::string> tree;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it)
    tree[fs::relative(it->path(), root).string()] = it->is_directory() ? "<dir>" : ReadFile(it->path());
  return tree;
}

// Text, random bytes and runs over several 64 KiB blocks.
inline std::string Mixed(size_t size, unsigned seed) {
  std::string s = RandomBytes(size / 3, seed) + std::string(size / 3, 'x');
  for (size_t i = 0; s.size() < size; ++i) s += "line " + std::to_string(i) + " of some text\n";
  return s.substr(0, size);
}

// The data of extra field `tag` ("" when absent).
inline std::string Extra(const std::string& area, uint16_t tag) {
  for (size_t at = 0; at + 4 <= area.size(); at += 4 + Le(area, at + 2, 2))
    if (Le(area, at, 2) == tag) return area.substr(at + 4, Le(area, at + 2, 2));
  return "";
}

// A local or central header; the central one's fields lie two bytes further on.
struct Record {
  uint64_t made = 0, version, flags, method, stamp, crc, packed, size, external = 0, offset = 0;
  std::string name, extra;
  size_t length;
};

inline Record ReadRecord(const std::string& b, size_t at, bool central) {
  EXPECT_EQ(Le(b, at, 4), central ? 0x02014b50u : 0x04034b50u) << "record at " << at;
  Record r;
  size_t c = central ? 2 : 0, name = central ? 46 : 30;
  if (central) r.made = Le(b, at + 4, 2);
  r.version = Le(b, at + 4 + c, 2);
  r.flags = Le(b, at + 6 + c, 2);
  r.method = Le(b, at + 8 + c, 2);
  r.stamp = Le(b, at + 10 + c, 4);
  r.crc = Le(b, at + 14 + c, 4);
  r.packed = Le(b, at + 18 + c, 4);
  r.size = Le(b, at + 22 + c, 4);
  size_t n = Le(b, at + 26 + c, 2), m = Le(b, at + 28 + c, 2), k = central ? Le(b, at + 32, 2) : 0;
  if (central) r.external = Le(b, at + 38, 4), r.offset = Le(b, at + 42, 4);
  r.name = b.substr(at + name, n);
  r.extra = b.substr(at + name + n, m);
  r.length = name + n + m + k;
  return r;
}

// The archive as its records say, read without the library. The central directory of a
// compressed-directory archive is decompressed first.
struct Archive {
  std::string bytes, directory;
  uint64_t end_here, end_count, end_size;          // the end record
  std::vector<uint64_t> z64;                       // the Zip64 record's fields, when present
  std::vector<std::pair<Record, Record>> entries;  // central and local header
};

inline Archive ReadArchive(const std::string& path) {
  Archive a;
  a.bytes = ReadFile(path);
  const std::string& b = a.bytes;
  size_t end = b.size() - 22;
  EXPECT_EQ(Le(b, end, 4), 0x06054b50u);
  a.end_here = Le(b, end + 8, 2), a.end_count = Le(b, end + 10, 2), a.end_size = Le(b, end + 12, 4);
  uint64_t count = a.end_count, offset = Le(b, end + 16, 4), size = a.end_size, method = 0;
  if (Le(b, end - 20, 4) == 0x07064b50u) {
    size_t at = Le(b, end - 20 + 8, 8);
    // Size, made by, needed, entries here, entries, size, offset; version 2: method,
    // stored size, original size, hash id, hash length, hash (CRC-32).
    a.z64 = {Le(b, at + 4, 8),  Le(b, at + 12, 2), Le(b, at + 14, 2), Le(b, at + 24, 8),
             Le(b, at + 32, 8), Le(b, at + 40, 8), Le(b, at + 48, 8)};
    if (a.z64[0] > 44)
      for (auto [o, w] : {std::pair{56, 2}, {58, 8}, {66, 8}, {80, 2}, {82, 2}, {84, 4}})
        a.z64.push_back(Le(b, at + o, w));
    count = a.z64[4], size = a.z64[5], offset = a.z64[6], method = a.z64[0] > 44 ? a.z64[7] : 0;
  }
  a.directory = b.substr(offset, size);
  if (method != 0) {
    std::string out(a.z64[9], '\0');
    if (method == 8) {
      uLongf n = out.size();
      z_stream z{};
      inflateInit2(&z, -15);
      z.next_in = reinterpret_cast<Bytef*>(a.directory.data()), z.avail_in = static_cast<uInt>(size);
      z.next_out = reinterpret_cast<Bytef*>(out.data()), z.avail_out = static_cast<uInt>(n);
      EXPECT_EQ(inflate(&z, Z_FINISH), Z_STREAM_END);
      inflateEnd(&z);
    } else {
      unsigned n = static_cast<unsigned>(out.size());
      EXPECT_EQ(
          BZ2_bzBuffToBuffDecompress(out.data(), &n, a.directory.data(), static_cast<unsigned>(size), 0, 0),
          BZ_OK);
    }
    a.directory = out;
  }
  for (size_t at = 0; a.entries.size() < count && at + 46 <= a.directory.size();) {
    Record central = ReadRecord(a.directory, at, true);
    uint64_t local = central.offset == 0xFFFFFFFFu ? Le(Extra(central.extra, 1), 16, 8) : central.offset;
    a.entries.emplace_back(central, ReadRecord(b, local, false));
    at += central.length;
  }
  EXPECT_EQ(a.entries.size(), count);
  return a;
}

}  // namespace tx::test
