// Bytes of the archives we write: the converter against 7-Zip's, the shapes of small
// archives, option codes, and what a failed or cancelled pack leaves behind.
#include <cstring>

#include "svz/svz_aes.h"
#include "svz/svz_index.h"
#include "svz_pack_test.h"

namespace tx::test {
namespace {

class SvzShapes : public ::testing::Test {
 protected:
  std::string Peer7z(const std::string& options, const std::string& files) {
    std::string archive = dir / "peer.7z", out;
    EXPECT_EQ(Peer("cd " + Quote(dir / "src") + " && 7zz a -bd -t7z " + options + " " + Quote(archive) + " " +
                       files,
                   &out),
              0)
        << out;
    return ReadFile(archive);
  }
  TempDir dir;
  std::string archive = dir / "out.7z";
};

TEST_F(SvzShapes, ConverterOutputEqualsSevenZips) {
  fs::create_directories(dir / "src/solid");
  std::string program = ReadFile("/usr/bin/ls");
  WriteFile(dir / "src/ls", program);
  Options o;
  o.method = 0, o.bcj = 1, o.header = 0;
  Words w = o.words();
  ASSERT_EQ(svz_pack1(nullptr, archive.c_str(), (dir / "src/ls").c_str(), nullptr, w.data()), 0u);
  std::string peer = Peer7z("-m0=BCJ -m1=Copy -mhc=off -mf=off", "ls");
  std::string ours = ReadFile(archive);
  ASSERT_GE(ours.size(), 32 + program.size());
  ASSERT_GE(peer.size(), 32 + program.size());
  EXPECT_NE(peer.substr(32, program.size()), program);  // the converter had work to do
  EXPECT_TRUE(ours.substr(32, program.size()) == peer.substr(32, program.size()));

  // One stream over several files: the converter's state runs across their boundaries.
  WriteFile(dir / "src/solid/a.bin", program.substr(0, 50001));
  WriteFile(dir / "src/solid/b.bin", program.substr(50001, 40003));
  WriteFile(dir / "src/solid/c.bin", program.substr(90004));
  ASSERT_EQ(svz_pack3(nullptr, archive.c_str(), (dir / "src/solid/*").c_str(), nullptr, w.data()), 0u);
  peer = Peer7z("-m0=BCJ -m1=Copy -mhc=off -mf=off -ms=on", "solid/a.bin solid/b.bin solid/c.bin");
  ours = ReadFile(archive);
  ASSERT_GE(peer.size(), 32 + program.size());
  EXPECT_TRUE(ours.substr(32, program.size()) == peer.substr(32, program.size()));
}

TEST_F(SvzShapes, EmptyFileAndEmptyFoldersCarryNoStreams) {
  fs::create_directories(dir / "src/tree/one/two");
  fs::create_directories(dir / "src/tree/three");
  WriteFile(dir / "src/empty", "");
  Options o;
  Words w = o.words();
  ASSERT_EQ(svz_pack1(nullptr, archive.c_str(), (dir / "src/empty").c_str(), nullptr, w.data()), 0u);
  std::string bytes = ReadFile(archive);
  const char start[] = "\x01\x05\x01\x0e\x01\x80\x0f\x01\x80\x11";
  ASSERT_GT(bytes.size(), 42u);
  EXPECT_EQ(bytes.substr(32, 10), std::string(start, 10));
  EXPECT_EQ(Le(bytes, 12), 0u);
  EXPECT_EQ(Le(bytes, 20), bytes.size() - 32);
  EXPECT_EQ(Peer("7zz t -bd " + Quote(archive)), 0);

  ASSERT_EQ(svz_pack2(nullptr, archive.c_str(), (dir / "src/tree/*").c_str(), nullptr, w.data()), 0u);
  bytes = ReadFile(archive);
  // No streams: the files info follows the header byte; three folders, all empty
  // streams, none an empty file; deeper folders first.
  EXPECT_EQ(bytes.substr(32, 10), std::string("\x01\x05\x03\x0e\x01\xe0\x0f\x01\x00\x11", 10));
  std::string out;
  ASSERT_EQ(Peer("7zz x -bd -o" + Quote(dir / "x") + " " + Quote(archive), &out), 0) << out;
  EXPECT_EQ(Tree(dir.path() / "x"), Tree(dir.path() / "src/tree"));
  std::string names = bytes.substr(bytes.find('\x11', 40));
  EXPECT_LT(names.find(std::string("t\0w\0o", 5)), names.find(std::string("o\0n\0e\0\0", 7)));
}

TEST_F(SvzShapes, OptionsAreCheckedInOrder) {
  WriteFile(dir / "f", "x");
  std::string source = dir / "f", pattern = dir / "*";
  auto code = [&](int which, Words w) {
    if (which == 1) return svz_pack1(nullptr, archive.c_str(), source.c_str(), nullptr, w.data());
    if (which == 2) return svz_pack2(nullptr, archive.c_str(), pattern.c_str(), nullptr, w.data());
    return svz_pack3(nullptr, archive.c_str(), pattern.c_str(), nullptr, w.data());
  };
  Words w = Options().words();
  w[14] = 1;
  EXPECT_EQ(code(3, w), 0x2000eu);
  w[14] = 0, w[15] = 512;
  EXPECT_EQ(code(3, w), 0x2000fu);
  w[15] = 1024, w[13] = 3;
  EXPECT_EQ(code(3, w), 0x2000du);
  w = Options().words();
  w[9] = 63;
  EXPECT_EQ(code(1, w), 0x20009u);
  EXPECT_EQ(code(2, w), 0x20008u);
  EXPECT_EQ(code(3, w), 0x20009u);
  w[2] = 4;  // an earlier word decides
  EXPECT_EQ(code(2, w), 0x20002u);
  w = Options().words();
  w[3] = 0;
  EXPECT_EQ(code(1, w), 0x20003u);
  w[3] = 5, w[10] = 17;
  EXPECT_EQ(code(2, w), 0x2000au);
  w[10] = 0, w[0] = 1;  // demanded encryption without it
  EXPECT_EQ(code(2, w), 0x400000u);
  EXPECT_FALSE(fs::exists(archive));
}

TEST_F(SvzShapes, GroupingByExtensionMakesTwoFolders) {
  fs::create_directories(dir / "src");
  WriteFile(dir / "src/a.txt", Text(5000, 1));
  WriteFile(dir / "src/b.txt", Text(6000, 2));
  WriteFile(dir / "src/c.dll", Program(0, 7000));
  Options o;
  o.grouping = 2, o.bcj = 2;
  Words w = o.words();
  ASSERT_EQ(svz_pack3(nullptr, archive.c_str(), (dir / "src/*").c_str(), nullptr, w.data()), 0u);
  std::string out;
  ASSERT_EQ(Peer("7zz l -slt " + Quote(archive), &out), 0) << out;
  EXPECT_NE(out.find("Blocks = 2"), std::string::npos) << out;
  EXPECT_NE(out.find("BCJ"), std::string::npos) << out;  // the block of the library
  ASSERT_EQ(Peer("7zz t -bd " + Quote(archive), &out), 0) << out;
}

TEST_F(SvzShapes, FailedOrCancelledPackKeepsTheOldArchive) {
  fs::create_directories(dir / "src/sub");
  WriteFile(dir / "src/a.txt", Text(300000, 1));
  WriteFile(dir / "src/sub/b.txt", Text(300000, 2));
  WriteFile(archive, "an archive that was here before");
  Options o;
  Words w = o.words();
  w[1] = 1;  // progress
  for (int which : {1, 2, 3}) {
    for (unsigned turn : {1u, 2u, 4u}) {
      SCOPED_TRACE(which * 100 + turn);
      ScriptedUi ui;
      ui.dialogs.PressAt(turn, ui::ProgressEvent::Cancel);
      uint32_t code =
          which == 1   ? svz_pack1(nullptr, archive.c_str(), (dir / "src/a.txt").c_str(), nullptr, w.data())
          : which == 2 ? svz_pack2(nullptr, archive.c_str(), (dir / "src/*").c_str(), nullptr, w.data())
                       : svz_pack3(nullptr, archive.c_str(), (dir / "src/*").c_str(), nullptr, w.data());
      EXPECT_EQ(ClassOf(code), 0x900000u) << std::hex << code;
      EXPECT_EQ(ReadFile(archive), "an archive that was here before");
      size_t files = 0;
      for (auto& e : fs::directory_iterator(dir.path())) files += e.is_regular_file();
      EXPECT_EQ(files, 1u);  // no temporary file stays
    }
  }
}

TEST_F(SvzShapes, ArchiveInsideTheSourceIsLeftOut) {
  fs::create_directories(dir / "src");
  WriteFile(dir / "src/a.txt", Text(3000, 1));
  std::string inside = dir / "src/inside.7z";
  WriteFile(inside, "old");
  Words w = Options().words();
  for (int round = 0; round < 2; ++round) {  // the second round meets a real archive there
    ASSERT_EQ(svz_pack2(nullptr, inside.c_str(), (dir / "src/*").c_str(), nullptr, w.data()), 0u);
    std::string out;
    ASSERT_EQ(Peer("7zz l -slt " + Quote(inside), &out), 0) << out;
    EXPECT_NE(out.find("Path = a.txt"), std::string::npos);
    EXPECT_EQ(out.find("Path = inside.7z"), std::string::npos) << out;
  }
}

// The encrypted header's IV is drawn for the header: never the data folder's.
TEST_F(SvzShapes, EncryptedHeaderDrawsItsOwnIv) {
  WriteFile(dir / "f.txt", Text(5000, 1));
  Options o;
  o.encrypt = true, o.header = 2, o.cycles = 0, o.salt = 0, o.iv = 16, o.method = 0;
  Words w = o.words();
  ASSERT_EQ(svz_pack1(nullptr, archive.c_str(), (dir / "f.txt").c_str(), "pw", w.data()), 0u);
  std::string bytes = ReadFile(archive);
  uint64_t next = Le(bytes, 12), size = Le(bytes, 20);
  auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
  uint64_t position = 0;
  svz::EncodedSizes sizes;
  svz::CoderRecord header_coder;
  ASSERT_EQ(svz::ParseEncodedHeader(data + 32 + next, size, position, sizes, header_coder), 0u);
  std::string packed = bytes.substr(32 + position, sizes.packed);
  frame::Password password;
  password.Set("pw");
  svz::WidePassword wide;
  ASSERT_TRUE(wide.Set(password));
  uint8_t key[32];
  ASSERT_EQ(svz::DeriveKey7z(wide, false, key, 0, 0, nullptr), 0u);
  svz::StreamCipher cipher;
  ASSERT_TRUE(cipher.Begin(key, header_coder, false));
  ASSERT_TRUE(cipher.Run(reinterpret_cast<uint8_t*>(packed.data()), packed.size()));
  svz::ArchiveIndex index;
  ASSERT_EQ(svz::IndexMainHeader(reinterpret_cast<const uint8_t*>(packed.data()), sizes.plain, index), 0u);
  ASSERT_EQ(index.folders.size(), 1u);
  EXPECT_EQ(index.folders[0].coder.iv_size, 16u);
  EXPECT_NE(std::memcmp(index.folders[0].coder.iv, header_coder.iv, 16), 0);
}

}  // namespace
}  // namespace tx::test
