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

// A count of 65535 in the end record means "see the Zip64 record", so 65535 members get
// one as well as 65536; every reader sees them all. One tiny file listed again and again
// keeps this quick.
TEST_F(ZipPackPeers, EntryCountsAtTheEndRecordLimit) {
  WriteFile(dir / "t", "t");
  for (uint32_t count : {65535u, 65536u}) {
    SCOPED_TRACE(count);
    std::string list = dir.path().string() + "\r\n";
    for (uint32_t i = 0; i < count; ++i) list += "t\r\n";
    WriteFile(dir / "list", list);
    Words w = Pack(0);
    w[14] = 1;
    ASSERT_EQ(zip_pack2(nullptr, archive.c_str(), (dir / "list").c_str(), nullptr, w.data()), 0u);
    Archive a = ReadArchive(archive);
    EXPECT_EQ(a.end_count, 0xFFFFu);
    ASSERT_EQ(a.z64.size(), 7u);
    EXPECT_EQ(a.z64[4], count);
    std::string text(8 << 20, '\0');
    const uint32_t flags = 0;
    ASSERT_EQ(zip_list(nullptr, archive.c_str(), nullptr, text.data(), uint32_t(text.size()), &flags), 0u);
    EXPECT_NE(text.find("Content : " + std::to_string(count) + "\r\n"), std::string::npos);
    std::string out;
    EXPECT_EQ(Peer("unzip -l " + Quote(archive) + " | tail -1", &out), 0);
    EXPECT_NE(out.find(" " + std::to_string(count) + " files"), std::string::npos) << out;
    EXPECT_EQ(Peer("/usr/bin/python3 -c 'import sys, zipfile; "
                   "print(len(zipfile.ZipFile(sys.argv[1]).infolist()))' " +
                       Quote(archive),
                   &out),
              0);
    EXPECT_EQ(out, std::to_string(count) + "\n");
  }
}

std::string Le8(uint64_t v) {
  std::string s;
  for (int i = 0; i < 8; ++i) s += char(v >> (8 * i));
  return s;
}

// A stored member over 4 GiB, then a small member that starts beyond 4 GiB: every value in
// a Zip64 field has 0xFFFFFFFF in its 32-bit field, so peers that walk the field in order
// find the small member. The input is sparse and stored, so nothing is compressed, but the
// archive itself is written in full (some 4 GiB): a suite of its own that quick runs can
// leave out.
TEST(ZipPackLarge, MembersBeyond4GiB) {
  TempDir dir;
  fs::create_directory(dir / "src");
  const uint64_t size = (uint64_t{1} << 32) + 3;
  {
    std::ofstream f(dir / "src/big.bin", std::ios::binary);
    f.write("head", 4);
    f.seekp(static_cast<std::streamoff>(size - 4));
    f.write("tail", 4);
  }
  WriteFile(dir / "src/small.txt", "small member");
  std::string archive = dir / "out.zip";
  ASSERT_EQ(zip_pack2(nullptr, archive.c_str(), (dir / "src/*").c_str(), nullptr, Pack(0).data()), 0u);

  // Headers read without loading the archive: the first local header and the tail.
  std::ifstream in(archive, std::ios::binary);
  std::string head(64, '\0'), tail(4096, '\0');
  in.read(head.data(), 64);
  in.seekg(-4096, std::ios::end);
  in.read(tail.data(), 4096);
  Record local = ReadRecord(head, 0, false);
  EXPECT_EQ(local.version, 45u);
  EXPECT_EQ(std::pair(local.packed, local.size), std::pair(uint64_t{0xFFFFFFFF}, uint64_t{0xFFFFFFFF}));
  EXPECT_EQ(Extra(local.extra, 0x0001), Le8(size) + Le8(size));
  const uint64_t small_at = local.length + size;
  size_t at = tail.find("PK\x01\x02");
  ASSERT_NE(at, std::string::npos);
  Record big = ReadRecord(tail, at, true), small = ReadRecord(tail, at + big.length, true);
  EXPECT_EQ(big.name + " " + small.name, "big.bin small.txt");
  EXPECT_EQ(std::vector<uint64_t>({big.packed, big.size, big.offset}),
            std::vector<uint64_t>({0xFFFFFFFF, 0xFFFFFFFF, 0}));
  EXPECT_EQ(Extra(big.extra, 0x0001), Le8(size) + Le8(size));
  EXPECT_EQ(std::vector<uint64_t>({small.packed, small.size, small.offset}),
            std::vector<uint64_t>({0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF}));
  EXPECT_EQ(Extra(small.extra, 0x0001), Le8(12) + Le8(12) + Le8(small_at));

  // Each reader extracts the small member only: reading 4 GiB three times would add little.
  std::string out;
  EXPECT_EQ(Peer("unzip -p " + Quote(archive) + " small.txt", &out), 0);
  EXPECT_EQ(out, "small member");
  EXPECT_EQ(Peer("7zz x -bd -o" + Quote(dir / "7z") + " " + Quote(archive) + " small.txt", &out), 0) << out;
  EXPECT_EQ(ReadFile(dir / "7z/small.txt"), "small member");
  EXPECT_EQ(Peer("/usr/bin/python3 -c 'import sys, zipfile; z = zipfile.ZipFile(sys.argv[1]); "
                 "b = z.getinfo(\"big.bin\"); s = z.getinfo(\"small.txt\"); "
                 "print(b.file_size, b.compress_size, s.header_offset, z.read(\"small.txt\").decode())' " +
                     Quote(archive),
                 &out),
            0);
  EXPECT_EQ(out, std::to_string(size) + " " + std::to_string(size) + " " + std::to_string(small_at) +
                     " small member\n");
  fs::create_directory(dir / "ours");
  const uint32_t flags[2] = {0, 0};
  EXPECT_EQ(zip_unpack2(nullptr, archive.c_str(), (dir / "ours").c_str(), "small.txt", nullptr, flags), 0u);
  EXPECT_EQ(ReadFile(dir / "ours/small.txt"), "small member");
}

}  // namespace
}  // namespace tx::test
