// Zstandard folders, as the Zstandard builds of 7-Zip write them. No installed tool writes
// them, so the archive is put together here: one folder, its streams, a plain header.
#include <zstd.h>

#include "svz/svz_header.h"
#include "svz_unpack/svz_test.h"

namespace tx::test {
namespace {

using Zstd = SvzScratch;

std::string Number(uint64_t v) {
  svz::Bytes b;
  svz::AppendNumber(b, v);
  return std::string(b.begin(), b.end());
}

// A 7z archive of `files` in one Zstandard folder holding `packed`.
std::string ZstdArchive(const std::vector<std::pair<std::string, std::string>>& files, const std::string& packed) {
  uint64_t total = 0;
  for (const auto& f : files) total += f.second.size();
  std::string h = "\x01\x04\x06" + std::string(1, '\0') + "\x01\x09" + Number(packed.size()) + '\0';
  h += std::string("\x07\x0B\x01\x00\x01\x24\x04\xF7\x11\x01\x05\x01\x05\x03\x00\x00\x0C", 17) + Number(total);
  h += '\0';
  h += "\x08\x0D" + Number(files.size()) + "\x09";
  for (size_t i = 0; i + 1 < files.size(); ++i) h += Number(files[i].second.size());
  h += "\x0A\x01";
  for (const auto& f : files) {
    std::string crc(4, '\0');
    Store32(crc, 0, Crc(f.second));
    h += crc;
  }
  h += std::string(2, '\0');
  std::string names;
  for (const auto& f : files) names += Utf16(f.first) + std::string(2, '\0');
  h += "\x05" + Number(files.size()) + "\x11" + Number(names.size() + 1) + '\0' + names + std::string(2, '\0');
  std::string a = std::string("7z\xBC\xAF\x27\x1C\x00\x04", 8) + std::string(24, '\0') + packed + h;
  for (int i = 0; i < 8; ++i) a[12 + i] = static_cast<char>(uint64_t{packed.size()} >> (8 * i));
  FixCrcs(a);
  return a;
}

std::string Compress(const std::string& plain, int level) {
  std::string out(ZSTD_compressBound(plain.size()), '\0');
  size_t n = ZSTD_compress(out.data(), out.size(), plain.data(), plain.size(), level);
  EXPECT_FALSE(ZSTD_isError(n));
  out.resize(n);
  return out;
}

TEST_F(Zstd, FoldersComeOutByteIdenticalAndDamageGivesCodes) {
  std::string text;
  for (int i = 0; i < 30000; ++i) text += "zstd line " + std::to_string(i % 313) + "\n";
  const std::vector<std::pair<std::string, std::string>> files = {
      {"text.txt", text}, {"noise.bin", RandomBytes(100000, 9)}, {"tail.txt", "the end\n"}};
  std::string plain;
  for (const auto& f : files) plain += f.second;
  // Two frames, as multi-threaded writers make them.
  const std::string packed = Compress(plain.substr(0, 200000), 3) + Compress(plain.substr(200000), 19);
  const std::string good = ZstdArchive(files, packed);
  std::string out = Out();
  ASSERT_EQ(Unpack(3, Save(good), out), 0u);
  for (const auto& f : files) EXPECT_EQ(ReadFile(out + "/" + f.first), f.second) << f.first;
  std::string listing;
  EXPECT_EQ(List(Save(good), listing), 0u);
  EXPECT_NE(listing.find(" ZSTD "), std::string::npos) << listing;

  // Cut short or flipped: a code, and no file whose bytes did not all check.
  const std::string cut = ZstdArchive(files, packed.substr(0, packed.size() - 3));
  std::string flipped = good;
  flipped[32 + packed.size() / 2] ^= 0x40;
  for (const std::string& a : {cut, flipped}) {
    out = Out();
    EXPECT_NE(Unpack(3, Save(a), out), 0u);
    EXPECT_FALSE(fs::exists(out + "/tail.txt"));
  }
  // A frame past the folder's size: a code, though the files before it are whole.
  out = Out();
  EXPECT_EQ(Unpack(3, Save(ZstdArchive(files, packed + Compress("x", 1))), out) >> 16, 0x31u);
}

}  // namespace
}  // namespace tx::test
