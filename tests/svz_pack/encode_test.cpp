// The reader and the cipher stage of one folder, on their own.
#include <cstring>
#include <vector>

#include "crypto/crc.h"
#include "svz/svz_encode.h"
#include "svz_pack_test.h"

namespace tx::test {
namespace {

uint32_t Crc(const std::string& s) {
  return ~crypto::Crc32Update(0xFFFFFFFFu, reinterpret_cast<const uint8_t*>(s.data()), s.size());
}

std::u16string Wide(const std::string& s) { return {s.begin(), s.end()}; }

// A file that grew after the walk gives only the bytes recorded; one that shrank fails
// the read instead of shifting the files behind it.
TEST(SvzEncode, ReaderTakesExactlyTheRecordedSizes) {
  TempDir dir;
  std::string a = Text(100000, 1), b = Text(70000, 2);
  WriteFile(dir / "a", a + "grown since");
  WriteFile(dir / "b", b);
  std::vector<svz::SourceFile> files = {{Wide(dir / "a"), u"a", a.size()}, {Wide(dir / "b"), u"b", b.size()}};
  svz::EncodeSites sites = svz::FolderSites();
  uint32_t crcs[2] = {};
  svz::SolidReader reader;
  reader.Begin(files.data(), files.size(), false, false, sites, crcs);
  std::string all;
  std::vector<uint8_t> buffer(50000);
  for (;;) {
    size_t n = buffer.size();
    ASSERT_TRUE(reader.Read(buffer.data(), n));
    if (n == 0) break;
    all.append(reinterpret_cast<char*>(buffer.data()), n);
  }
  EXPECT_TRUE(all == a + b);
  EXPECT_EQ(crcs[0], Crc(a));
  EXPECT_EQ(crcs[1], Crc(b));

  files[1].size = b.size() + 1;  // b lost a byte since it was found
  reader.Begin(files.data(), files.size(), true, false, sites, crcs);
  bool failed = false;
  for (int i = 0; i < 100 && !failed; ++i) {
    size_t n = buffer.size();
    failed = !reader.Read(buffer.data(), n);
    if (!failed && n == 0) break;
  }
  EXPECT_TRUE(failed);
  EXPECT_EQ(reader.failure(), 0x01031801u);
}

// The converter's look-ahead never loses bytes, whatever the size of the requests.
TEST(SvzEncode, ConvertedStreamIsWholeForAnyRequestSize) {
  TempDir dir;
  std::string program = Program(0, 40000);
  WriteFile(dir / "p", program);
  std::vector<svz::SourceFile> files = {{Wide(dir / "p"), u"p", program.size()}};
  uint32_t crc = 0;
  std::string reference;
  for (size_t request : {65536u, 7u, 1u, 16u, 1000u}) {
    svz::SolidReader reader;
    reader.Begin(files.data(), 1, true, false, svz::FolderSites(), &crc);
    std::string all;
    std::vector<uint8_t> buffer(request);
    for (;;) {
      size_t n = request;
      ASSERT_TRUE(reader.Read(buffer.data(), n));
      if (n == 0) break;
      ASSERT_LE(n, request);
      all.append(reinterpret_cast<char*>(buffer.data()), n);
    }
    ASSERT_EQ(all.size(), program.size());
    if (reference.empty()) reference = all;
    EXPECT_TRUE(all == reference) << request;
  }
  EXPECT_FALSE(reference == program);
  EXPECT_EQ(crc, Crc(program));
}

TEST(SvzEncode, CipherStagePadsOnlyAPartialBlock) {
  TempDir dir;
  std::string path = dir / "out";
  uint8_t key[32] = {1, 2, 3};
  svz::CoderRecord coder;
  coder.iv_size = 16;
  for (size_t size : {1u, 32u, 65536u + 17u}) {
    platform::File file;
    std::u16string wide = Wide(path);
    ASSERT_TRUE(file.Open(wide.c_str(), platform::Access::Write, platform::Disposition::CreateAlways));
    std::vector<uint8_t> buffer(svz::kEncodeBlock), data(size, 0x5a);
    svz::StreamCipher cipher;
    ASSERT_TRUE(cipher.Begin(key, coder, true));
    svz::CipherWriter writer(buffer.data());
    writer.Begin(&file, &cipher, 1);
    ASSERT_TRUE(writer.Write(data.data(), data.size()));
    ASSERT_TRUE(writer.Finish());
    ASSERT_TRUE(file.Close());
    EXPECT_EQ(writer.coded(), size);
    EXPECT_EQ(writer.packed(), (size + 15) / 16 * 16);
    EXPECT_EQ(ReadFile(path).size(), writer.packed());
  }
}

}  // namespace
}  // namespace tx::test
