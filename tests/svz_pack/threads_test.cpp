// Folders coded on two cores: the same archive bytes as on one, accepted by 7zz, and a
// cancel midway leaves the old archive and no scratch file behind.
#include <cstdlib>

#include "frame/random.h"
#include "svz_pack/svz_pack_test.h"

namespace tx::test {
namespace {

// Files of unequal sizes (so that either thread may finish first), one of them a program.
void MakeSources(const fs::path& src) {
  fs::create_directories(src / "sub");
  WriteFile(src / "a.txt", Text(900000, 1));
  WriteFile(src / "b.bin", RandomBytes(300000, 2));
  WriteFile(src / "c.exe", Program(0, 200000));
  WriteFile(src / "sub/d.txt", Text(40000, 3));
  WriteFile(src / "sub/e.txt", Text(1500000, 4) + RandomBytes(5000, 5));
  WriteFile(src / "sub/empty", "");
}

// Packs with the given thread count and the generator keyed from a fixed pool, so that IVs
// and salts repeat; returns the archive's bytes.
std::string PackWith(const char* threads, bool solid, const std::string& archive, const std::string& source,
                     const Options& o, const char* password) {
  ::setenv("TESSAREX_THREADS", threads, 1);
  uint8_t pool[frame::kPoolSize] = {};
  for (size_t i = 0; i < sizeof pool; ++i) pool[i] = static_cast<uint8_t>(5 * i + 3);
  frame::KeyGenerator(pool);
  Words w = o.words();
  uint32_t code = solid ? svz_pack3(nullptr, archive.c_str(), source.c_str(), password, w.data())
                        : svz_pack2(nullptr, archive.c_str(), source.c_str(), password, w.data());
  ::unsetenv("TESSAREX_THREADS");
  frame::WipeGenerator();
  EXPECT_EQ(code, 0u) << threads;
  return ReadFile(archive);
}

TEST(SvzThreads, OneAndTwoThreadsWriteIdenticalArchives) {
  TempDir dir;
  MakeSources(dir.path() / "src");
  const std::string archive = dir / "a.7z", source = dir / "src/*";
  struct Case {
    bool solid;
    Options o;
    const char* password;
  };
  // LZMA 5 finds the matches of its larger folders on a thread of their own: beside another
  // folder, and in one solid block.
  Options lzma, aes, deflate, bzip2, one_block, lzma5;
  one_block.bcj = 1;
  lzma.level = 3;
  lzma.bcj = 2;
  aes.encrypt = true;
  aes.salt = 8;
  aes.header = 3;
  aes.level = 1;
  deflate.method = 1;
  deflate.block_files = 2;
  bzip2.method = 2;
  bzip2.block_bytes = 1000000;
  const Case cases[] = {{false, lzma, nullptr}, {false, aes, "PASS"}, {true, deflate, nullptr},
                        {true, bzip2, nullptr}, {true, aes, "PASS"},  {true, one_block, nullptr},
                        {false, lzma5, nullptr}};
  int index = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(index++);
    std::string one = PackWith("1", c.solid, archive, source, c.o, c.password);
    std::string two = PackWith("2", c.solid, archive, source, c.o, c.password);
    ASSERT_GT(one.size(), 1000u);
    EXPECT_TRUE(one == two);
    std::string out, x_name = "x";
    x_name.append(std::to_string(index));
    const std::string x = dir / x_name;
    ASSERT_EQ(Peer("7zz x -bd -pPASS -o" + Quote(x) + " " + Quote(archive), &out), 0) << out;
    EXPECT_EQ(Tree(x), Tree(dir / "src"));
  }
}

TEST(SvzThreads, CancellingMidwayLeavesTheOldArchiveAndNoScratchFile) {
  TempDir dir;
  MakeSources(dir.path() / "src");
  const std::string archive = dir / "a.7z", source = dir / "src/*";
  WriteFile(archive, "old archive");
  ::setenv("TESSAREX_THREADS", "2", 1);
  for (int kind : {0, 1, 2}) {  // a folder per file, blocks of two files, one block
    const bool solid = kind != 0;
    for (unsigned turn : {3u, 6u, 12u}) {
      ScriptedUi ui;
      ui.dialogs.PressAt(turn, ui::ProgressEvent::Cancel);
      Options o;
      o.block_files = kind == 2 ? 0 : 2;
      Words w = o.words();
      w[1] = 1;  // progress
      uint32_t code = solid ? svz_pack3(nullptr, archive.c_str(), source.c_str(), nullptr, w.data())
                            : svz_pack2(nullptr, archive.c_str(), source.c_str(), nullptr, w.data());
      EXPECT_EQ(code & 0xFFFF0000u, 0x00900000u) << solid << " " << turn;  // cancelled
      EXPECT_EQ(ReadFile(archive), "old archive");
    }
  }
  ::unsetenv("TESSAREX_THREADS");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 2);
}

}  // namespace
}  // namespace tx::test
