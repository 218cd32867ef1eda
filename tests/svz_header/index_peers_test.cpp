// 7-Zip's own headers read into the index.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "../test_support.h"
#include "svz/svz_index.h"

namespace tx::svz {
namespace {

// 7-Zip's headers of a tree, solid and not, with empty files and folders, index with the
// streams cut as its own listing shows them.
TEST(SvzIndex, SevenZipTreesIndex) {
  test::TempDir dir;
  std::filesystem::create_directories(dir / "t/sub/deeper");
  std::filesystem::create_directories(dir / "t/empty");
  test::WriteFile(dir / "t/a.txt", std::string(5000, 'a'));
  test::WriteFile(dir / "t/sub/b.bin", test::RandomBytes(3000, 1));
  test::WriteFile(dir / "t/sub/deeper/c.txt", "c");
  test::WriteFile(dir / "t/zero", "");
  for (std::string solid : {"on", "off"}) {
    for (std::string method : {"LZMA", "BCJ -m1=LZMA", "LZMA2"}) {
      std::string archive = dir / "a.7z";
      std::remove(archive.c_str());
      int status = 0;
      test::Shell("cd " + test::Quote(dir / "t") + " && 7zz a -t7z -mhc=off -ms=" + solid + " -m0=" + method +
                      " " + test::Quote(archive) + " . >/dev/null 2>&1",
                  &status);
      ASSERT_EQ(status, 0);
      std::string bytes = test::ReadFile(archive);
      const uint8_t* b = reinterpret_cast<const uint8_t*>(bytes.data());
      SignatureInfo sig;
      ASSERT_EQ(FindSignatureHeader(b, bytes.size(), sig), kOk);
      ArchiveIndex index;
      ASSERT_EQ(IndexMainHeader(b + 32 + sig.next_offset, sig.next_size, index), kOk) << solid << method;
      EXPECT_EQ(index.counts.files, 7u);
      EXPECT_EQ(index.counts.unpack_streams, 3u);
      EXPECT_EQ(index.counts.directories, 3u);
      EXPECT_EQ(index.counts.empty_files, 1u);
      EXPECT_EQ(index.folders.size(), solid == "on" ? 1u : 3u);
      EXPECT_LE(index.packed_end, sig.next_offset);
      uint64_t total = 0;
      for (const StreamInfo& s : index.streams) {
        total += s.size;
        EXPECT_TRUE(s.crc_defined);
      }
      EXPECT_EQ(total, 8001u);
      for (const FolderInfo& f : index.folders) {
        EXPECT_EQ(f.layout.linear, true);
        EXPECT_EQ(f.coder.method, method == "LZMA2" ? kLzma2 : kLzma);
        EXPECT_EQ((f.coder.chain_flags & kChainBcj) != 0, method.starts_with("BCJ"));
      }
    }
  }
}

}  // namespace
}  // namespace tx::svz
