// Archives we write, tested and extracted by other tools; the extracted bytes must be ours.
#include "zip_pack_test.h"

namespace tx::test {
namespace {

class ZipPackPeers : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dir / "src/docs/deeper");
    fs::create_directories(dir / "src/empty folder");
    WriteFile(dir / "src/docs/text.txt", Mixed(3 * 65536 + 123, 5));
    WriteFile(dir / "src/docs/deeper/random.bin", RandomBytes(70001, 6));
    WriteFile(dir / "src/docs/deeper/empty", "");
    WriteFile(dir / "src/run.bin", std::string(200000, '\0'));
  }
  void Pack2(const Words& w, const char* password = nullptr) {
    ASSERT_EQ(zip_pack2(nullptr, archive.c_str(), (dir / "src/*").c_str(), password, w.data()), 0u);
  }
  // Runs the peer's test, then extracts into a fresh folder and compares with the source.
  void ExpectPeer(const std::string& test, const std::string& extract) {
    fs::remove_all(dir / "out");
    fs::create_directory(dir / "out");
    std::string out;
    EXPECT_EQ(Peer(test, &out), 0) << test << "\n" << out;
    if (extract.empty()) return;
    ASSERT_EQ(Peer(extract, &out), 0) << extract << "\n" << out;
    EXPECT_EQ(Tree(dir / "out"), Tree(dir / "src"));
  }
  std::string Unzip() { return "unzip -q " + Quote(archive) + " -d " + Quote(dir / "out"); }
  std::string Python() {
    return "/usr/bin/python3 -c 'import sys, zipfile; "
           "zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' " +
           Quote(archive) + " " + Quote(dir / "out");
  }
  TempDir dir;
  std::string archive = dir / "out.zip";
};

TEST_F(ZipPackPeers, InfoZipAndPythonExtractEveryMethod) {
  for (auto [method, level] : {std::pair{0u, 1u}, {8u, 1u}, {8u, 9u}, {12u, 1u}, {12u, 9u}}) {
    SCOPED_TRACE(method);
    Words w = Pack(method, level);
    w[12] = level == 1;  // NTFS times
    Pack2(w);
    ExpectPeer("unzip -t " + Quote(archive), Unzip());
    ExpectPeer("true", Python());
  }
}

TEST_F(ZipPackPeers, Utf8AndTraditionalNames) {
  fs::create_directories(dir / "src/\xc3\xa4rger");
  WriteFile(dir / "src/\xc3\xa4rger/\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e.txt", "nihongo");
  Words w = Pack();
  w[13] = 1;
  Pack2(w);
  // unzip reads names from MS-DOS hosts in the OEM code page whatever the flag says, so it
  // only tests them.
  ExpectPeer("unzip -t " + Quote(archive), Python());
  ExpectPeer("true", "7zz x -bd -o" + Quote(dir / "out") + " " + Quote(archive));
  fs::remove_all(dir / "src/\xc3\xa4rger");
  WriteFile(dir / "src/READ ME.TXT", "readme");
  Pack2(Pack());
  ExpectPeer("unzip -t " + Quote(archive), Unzip());
}

TEST_F(ZipPackPeers, SevenZipDecryptsEveryAesKindAndKeyLength) {
  for (uint32_t kind : {1u, 2u, 3u}) {
    for (auto [key, method] : {std::pair{16u, 0u}, {24u, 12u}, {32u, 8u}}) {
      SCOPED_TRACE(std::to_string(kind) + " " + std::to_string(key));
      Pack2(Aes(kind, key, method), "pass word");
      std::string out;
      EXPECT_NE(Peer("7zz t -bd -pwrong " + Quote(archive), &out), 0) << out;
      ExpectPeer("7zz t -bd '-ppass word' " + Quote(archive),
                 "7zz x -bd '-ppass word' -o" + Quote(dir / "out") + " " + Quote(archive));
    }
  }
}

// More than 65535 entries need the Zip64 end record.
TEST_F(ZipPackPeers, Zip64EndRecordForManyEntries) {
  fs::create_directories(dir / "many");
  for (int i = 0; i < 65537; ++i) std::ofstream(dir / ("many/" + std::to_string(i)));
  WriteFile(dir / "many/data", "data");
  ASSERT_EQ(zip_pack2(nullptr, archive.c_str(), (dir / "many/*").c_str(), nullptr, Pack().data()), 0u);
  Archive a = ReadArchive(archive);
  EXPECT_EQ(a.end_count, 0xFFFFu);
  EXPECT_EQ(a.z64, (std::vector<uint64_t>{44, 62, 45, 65538, 65538, a.end_size, a.z64.at(6)}));
  std::string out;
  EXPECT_EQ(Peer("unzip -tq " + Quote(archive) + " && unzip -l " + Quote(archive) + " | tail -1", &out), 0);
  EXPECT_NE(out.find("65538 files"), std::string::npos) << out;
}

// A member over 4 GiB: sizes in the Zip64 fields of both headers. A sparse file keeps the
// disk quiet and the archive small, but the data is still compressed and tested (some 20
// seconds): a suite of its own that quick runs can leave out.
TEST(ZipPackLarge, Zip64SizesForAMemberOver4GiB) {
  TempDir dir;
  std::string archive = dir / "out.zip";
  const uint64_t size = (uint64_t{1} << 32) + 65536 + 3;
  {
    std::ofstream f(dir / "big.bin", std::ios::binary);
    f.write("head", 4);
    f.seekp(static_cast<std::streamoff>(size - 4));
    f.write("tail", 4);
  }
  ASSERT_EQ(zip_pack1(nullptr, archive.c_str(), (dir / "big.bin").c_str(), nullptr, Pack(8, 1).data()), 0u);
  Archive a = ReadArchive(archive);
  auto& [central, local] = a.entries.at(0);
  for (const Record* r : {&central, &local}) {
    EXPECT_EQ(r->version, 45u);
    EXPECT_EQ(r->size, 0xFFFFFFFFu);
    EXPECT_LT(r->packed, 0xFFFFFFFFu);
    std::string z = Extra(r->extra, 0x0001);
    ASSERT_EQ(z.size(), 16u);
    EXPECT_EQ(Le(z, 0, 8), size);
    EXPECT_EQ(Le(z, 8, 8), r->packed);
  }
  std::string out;
  EXPECT_EQ(Peer("unzip -tq " + Quote(archive), &out), 0) << out;
}

}  // namespace
}  // namespace tx::test
