// Every shape of archive we write is tested by 7zz and extracts to the bytes packed.
#include "svz_pack_test.h"

namespace tx::test {
namespace {

enum Export { kPack1 = 1, kPack2 = 2, kPack3 = 3 };

struct Case {
  Export which;
  Options o;
  std::string label;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.label; }

class SvzPeers : public ::testing::TestWithParam<Case> {
 protected:
  static void SetUpTestSuite() {
    root = new TempDir;
    fs::path src = root->path() / "src";
    fs::create_directories(src / "sub/deeper");
    fs::create_directories(src / "empty folder");
    WriteFile(*root / "src/a.txt", Text(20000, 1));
    WriteFile(*root / "src/b.txt", Text(3000, 2));
    WriteFile(*root / "src/prog.exe", Program(4096, 90000));
    WriteFile(*root / "src/lib.dll", Program(100000, 30001));
    WriteFile(*root / "src/sub/c.bin", RandomBytes(70001, 3));
    WriteFile(*root / "src/sub/d.txt", Text(65536 * 2 + 5, 4));
    WriteFile(*root / "src/sub/deeper/empty", "");
  }
  static void TearDownTestSuite() { delete root; }
  static TempDir* root;
};
TempDir* SvzPeers::root = nullptr;

TEST_P(SvzPeers, TestedAndExtractedBy7zz) {
  const Case& c = GetParam();
  TempDir work;
  std::string archive = work / "out.7z";
  Words w = c.o.words();
  const char* password = c.o.encrypt ? "PASS" : nullptr;
  uint32_t code = 0;
  if (c.which == kPack1)
    code = svz_pack1(nullptr, archive.c_str(), (*root / "src/prog.exe").c_str(), password, w.data());
  else if (c.which == kPack2)
    code = svz_pack2(nullptr, archive.c_str(), (*root / "src/*").c_str(), password, w.data());
  else
    code = svz_pack3(nullptr, archive.c_str(), (*root / "src/*").c_str(), password, w.data());
  ASSERT_EQ(code, 0u);
  std::string out;
  ASSERT_EQ(Peer("7zz t -bd -pPASS " + Quote(archive), &out), 0) << out;
  ASSERT_EQ(Peer("7zz x -bd -pPASS -o" + Quote(work / "x") + " " + Quote(archive), &out), 0) << out;
  if (c.which == kPack1)
    EXPECT_EQ(ReadFile(work / "x/prog.exe"), ReadFile(*root / "src/prog.exe"));
  else
    EXPECT_EQ(Tree(work.path() / "x"), Tree(root->path() / "src"));
  // And by our own readers: the listing, and the extraction of every shape.
  std::vector<char> text(1 << 16);
  uint32_t list_flags = 0;
  ASSERT_EQ(svz_list(nullptr, archive.c_str(), password, text.data(), 1 << 16, &list_flags), 0u);
  EXPECT_NE(std::string(text.data()).find(c.which == kPack1 ? "prog.exe" : "sub/deeper/empty"),
            std::string::npos);
  uint32_t unpack[2] = {0, 0};
  fs::create_directories(work / "ours");
  ASSERT_EQ(svz_unpack3(nullptr, archive.c_str(), (work / "ours").c_str(), nullptr, password, unpack), 0u);
  EXPECT_EQ(Tree(work.path() / "ours"), Tree(work.path() / "x"));
  if (c.which == kPack1) {
    fs::create_directories(work / "one");
    ASSERT_EQ(svz_unpack1(nullptr, archive.c_str(), (work / "one").c_str(), password, unpack), 0u);
    EXPECT_EQ(ReadFile(work / "one/prog.exe"), ReadFile(*root / "src/prog.exe"));
  }
}

// A list file names what goes in, from its own base folder; creation times are stored
// for every entry (7-Zip shows them) when asked for.
TEST_F(SvzPeers, ListFileAndCreationTimes) {
  TempDir work;
  std::string list = work / "names.txt";
  WriteFile(list, root->path().string() + "/src\r\na.txt\r\nsub/c.bin\r\nsub\r\n");
  for (uint32_t solid : {0u, 1u}) {
    std::string archive = work / ("list" + std::to_string(solid) + ".7z");
    Options o;
    o.creation_times = true;
    Words w = o.words();
    w[12] = 1;
    uint32_t code = solid ? svz_pack3(nullptr, archive.c_str(), list.c_str(), nullptr, w.data())
                          : svz_pack2(nullptr, archive.c_str(), list.c_str(), nullptr, w.data());
    ASSERT_EQ(code, 0u);
    std::string out;
    ASSERT_EQ(Peer("7zz l -slt " + Quote(archive), &out), 0) << out;
    EXPECT_NE(out.find("Path = sub/c.bin"), std::string::npos) << out;
    EXPECT_EQ(out.find("Path = b.txt"), std::string::npos) << out;
    EXPECT_NE(out.find("Created = "), std::string::npos) << out;
    ASSERT_EQ(Peer("7zz x -bd -o" + Quote(work / ("x" + std::to_string(solid))) + " " + Quote(archive), &out),
              0);
    EXPECT_EQ(ReadFile(work / ("x" + std::to_string(solid)) + "/sub/c.bin"),
              ReadFile(*root / "src/sub/c.bin"));
  }
}

std::vector<Case> Cases() {
  std::vector<Case> cases;
  const char* methods[] = {"copy", "deflate", "bzip2", "lzma"};
  // Methods and converter modes, plain and encrypted, one folder per file and solid.
  for (Export which : {kPack1, kPack2, kPack3})
    for (uint32_t m = 0; m < 4; ++m)
      for (uint32_t bcj = 0; bcj < 3; ++bcj) {
        Options o;
        o.method = m, o.bcj = bcj, o.header = 1, o.level = 1 + 4 * (bcj % 3);
        o.grouping = bcj == 2 ? 1 : 0;
        o.encrypt = (m + bcj) % 2 == 1;
        cases.push_back({which, o,
                         "pack" + std::to_string(which) + "_" + methods[m] + "_bcj" + std::to_string(bcj) +
                             (o.encrypt ? "_aes" : "")});
      }
  // Header modes and methods with every salt and IV size.
  for (uint32_t mode = 0; mode < 4; ++mode)
    for (uint32_t hm = 0; hm < 4; ++hm) {
      Options o;
      o.method = (mode + hm) % 4, o.header = mode, o.header_method = hm, o.encrypt = true;
      o.salt = (hm & 1) ? 16 : 0, o.iv = (hm & 2) ? 0 : 16;
      Export which = mode % 2 ? kPack3 : kPack2;
      cases.push_back({which, o,
                       "header" + std::to_string(mode) + "_" + methods[hm] + "_salt" +
                           std::to_string(o.salt) + "_iv" + std::to_string(o.iv)});
    }
  // Solid blocks cut by type, by count and by bytes.
  for (uint32_t grouping = 0; grouping < 3; ++grouping)
    for (auto [files, bytes] : {std::pair{0u, 0u}, {2u, 0u}, {0u, 1024u}, {3u, 100000u}}) {
      Options o;
      o.grouping = grouping, o.block_files = files, o.block_bytes = bytes, o.bcj = 2, o.header = 1;
      o.method = (grouping + files) % 2 ? 3 : 1;
      cases.push_back({kPack3, o,
                       "solid_group" + std::to_string(grouping) + "_files" + std::to_string(files) +
                           "_bytes" + std::to_string(bytes)});
    }
  // A key of the usual strength once.
  Options o;
  o.cycles = 19, o.encrypt = true, o.header = 3, o.salt = 16;
  cases.push_back({kPack3, o, "cycles19"});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Shapes, SvzPeers, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<Case>& info) { return info.param.label; });

}  // namespace
}  // namespace tx::test
