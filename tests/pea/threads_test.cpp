// Packing on one core and on two: the same archive bytes, and cancelling midway leaves
// nothing behind on either.
#include <cstdlib>

#include "frame/random.h"
#include "pea/pea_test.h"

namespace tx::test {
namespace {

// Runs `pack` with the given thread count and the generator keyed from a fixed pool, so
// that salts repeat; returns the archive's bytes.
template <typename F>
std::string PackWith(const char* threads, const std::string& archive, F pack) {
  ::setenv("TESSAREX_THREADS", threads, 1);
  uint8_t pool[frame::kPoolSize] = {};
  for (size_t i = 0; i < sizeof pool; ++i) pool[i] = static_cast<uint8_t>(7 * i + 1);
  frame::KeyGenerator(pool);
  uint32_t code = pack();
  ::unsetenv("TESSAREX_THREADS");
  frame::WipeGenerator();
  EXPECT_EQ(code, 0u) << threads;
  return ReadFile(archive);
}

// Blocks that compress well, blocks that do not (stored raw), a short last block, a file of
// exactly one block, small and empty files in between.
void MakeSources(const fs::path& src) {
  fs::create_directories(src / "sub");
  std::string big;
  for (int i = 0; big.size() < 3 * 1048576; ++i)
    big += "row " + std::to_string(i * 7919 % 10007) + " of text\n";
  big += RandomBytes(1048576 + 4321, 5);
  for (int i = 0; big.size() < 6 * 1048576 + 999; ++i) big += "tail " + std::to_string(i) + "\n";
  WriteFile(src / "big.bin", big);
  WriteFile(src / "sub/one.bin", RandomBytes(1048576, 6));
  WriteFile(src / "sub/small.txt", "small");
  WriteFile(src / "sub/empty", "");
  WriteFile(src / "z.txt", big.substr(100, 2 * 1048576));
}

TEST(PeaThreads, OneAndTwoThreadsWriteIdenticalArchives) {
  TempDir dir;
  MakeSources(dir.path() / "src");
  const std::string archive = dir / "a.pea", src = dir / "src";
  struct Case {
    uint32_t compression, volume, stream, object;
    const char* password;
  };
  const Case cases[] = {{1, 1, 2, 3, ""}, {2, 2, 49, 3, "pw"}, {3, 0, 65, 16, "pw"}, {2, 3, 0, 0, ""}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.compression * 1000 + c.stream);
    Options o = PackOptions(c.compression, c.volume, c.stream, c.object);
    auto pack2 = [&] { return Pack(archive, src, o, c.password); };
    std::string one = PackWith("1", archive, pack2);
    std::string two = PackWith("2", archive, pack2);
    ASSERT_GT(one.size(), 1000u);
    EXPECT_TRUE(one == two);
    std::string out = dir / ("out" + std::to_string(c.compression) + std::to_string(c.stream));
    fs::create_directory(out);
    ASSERT_EQ(Unpack(archive, out, kNoFlags, c.password), 0u);
    EXPECT_EQ(Tree(out + "/src"), Tree(src));
  }
  // One file through the single-file export.
  Options o = PackOptions(2, 1, 48, 2);
  std::string file = dir / "src/big.bin";
  auto pack1 = [&] { return pea_pack1(nullptr, archive.c_str(), file.c_str(), "pw", nullptr, o.data()); };
  EXPECT_TRUE(PackWith("1", archive, pack1) == PackWith("2", archive, pack1));
}

TEST(PeaThreads, CancellingMidwayLeavesTheOldArchiveOnBothPaths) {
  TempDir dir;
  MakeSources(dir.path() / "src");
  const std::string archive = dir / "a.pea", src = dir / "src";
  for (const char* threads : {"1", "2"}) {
    SCOPED_TRACE(threads);
    ::setenv("TESSAREX_THREADS", threads, 1);
    WriteFile(archive, "old archive");
    Options o = PackOptions(2, 1, 2, 3);
    o[1] = 1;  // progress
    for (unsigned turn : {4u, 9u}) {
      ScriptedUi ui;
      ui.dialogs.PressAt(turn, ui::ProgressEvent::Cancel);
      EXPECT_EQ(Pack(archive, src, o) & 0xFFFF0000u, 0x00900000u) << turn;  // cancelled
      EXPECT_EQ(ReadFile(archive), "old archive");
    }
    ::unsetenv("TESSAREX_THREADS");
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 2);
}

}  // namespace
}  // namespace tx::test
