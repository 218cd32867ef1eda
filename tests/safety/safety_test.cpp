// What a failure, a hostile archive or a careless call must not do: lose a file that was
// there before, leave a partial file under a final name, write outside the output folder,
// or pack an archive into itself.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "tessarex.h"
#include "test_support.h"

namespace tx::test {
namespace {

namespace fs = std::filesystem;

// The names in a folder, to see that no temporary file was left behind.
std::set<std::string> Names(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(folder)) names.insert(e.path().filename().string());
  return names;
}

// Changes the first occurrence of `text` in a file.
void Patch(const fs::path& path, const std::string& text, const std::string& with) {
  std::string bytes = ReadFile(path);
  size_t at = bytes.find(text);
  ASSERT_NE(at, std::string::npos);
  bytes.replace(at, with.size(), with);
  WriteFile(path, bytes);
}

constexpr uint32_t kClass = 0xFFFF0000u;
const std::array<uint32_t, 2> kNoFlags = {0, 0};
std::array<uint32_t, 16> ZipWords(uint32_t method = 0) { return {0, 0, method, 6}; }
std::array<uint32_t, 8> PeaWords(uint32_t volume, uint32_t stream, uint32_t object) {
  return {0, 0, 0, volume, stream, object, 48, 0};
}

class Safety : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dir.path() / "src/sub");
    fs::create_directories(dir.path() / "out");
    WriteFile(dir / "src/data.txt", "PAY 100 EUR TO ALICE, fresh from the archive");
    WriteFile(dir / "src/sub/more.txt", "below");
  }
  std::string out() const { return dir / "out"; }
  TempDir dir;
};

TEST_F(Safety, AFailedExtractionKeepsTheFileThatWasThere) {
  std::string zip = dir / "a.zip", pea = dir / "a.pea";
  ASSERT_EQ(zip_pack1(nullptr, zip.c_str(), (dir / "src/data.txt").c_str(), nullptr, ZipWords().data()), 0u);
  Patch(zip, "PAY 100", "PAY 999");  // stored: the CRC no longer fits
  ASSERT_EQ(pea_pack1(nullptr, pea.c_str(), (dir / "src/data.txt").c_str(), "", nullptr,
                      PeaWords(0, 0, 2).data()),
            0u);
  Patch(pea, "PAY 100", "PAY 999");  // no compression, a CRC-32 object check
  WriteFile(dir / "out/data.txt", "precious");

  EXPECT_EQ(zip_unpack2(nullptr, zip.c_str(), out().c_str(), nullptr, nullptr, kNoFlags.data()) & kClass,
            0x00610000u);
  EXPECT_EQ(zip_unpack1(nullptr, zip.c_str(), out().c_str(), nullptr, kNoFlags.data()) & kClass, 0x00610000u);
  EXPECT_EQ(pea_unpack2(nullptr, pea.c_str(), out().c_str(), nullptr, "", nullptr, kNoFlags.data()) & kClass,
            0x00610000u);
  EXPECT_EQ(pea_unpack1(nullptr, pea.c_str(), out().c_str(), "", nullptr, kNoFlags.data()) & kClass, 0x00610000u);
  EXPECT_EQ(ReadFile(dir / "out/data.txt"), "precious");
  EXPECT_EQ(Names(out()), std::set<std::string>{"data.txt"});
}

TEST_F(Safety, EncryptedPeaFilesAppearOnlyOnceTheStreamAuthenticates) {
  for (uint32_t stream : {48u, 49u, 65u}) {
    SCOPED_TRACE(stream);
    std::string pea = dir / "e.pea", one = dir / "one.pea";
    // No volume check: the stream's tag is the archive's last bytes.
    ASSERT_EQ(pea_pack2(nullptr, pea.c_str(), (dir / "src/*").c_str(), "pw", nullptr,
                        PeaWords(0, stream, 2).data()),
              0u);
    ASSERT_EQ(pea_pack1(nullptr, one.c_str(), (dir / "src/data.txt").c_str(), "pw", nullptr,
                        PeaWords(0, stream, 2).data()),
              0u);
    for (const std::string& archive : {pea, one}) {
      std::string bytes = ReadFile(archive);
      bytes.back() ^= 1;
      WriteFile(archive, bytes);
    }
    fs::remove_all(out());
    fs::create_directory(out());
    WriteFile(dir / "out/data.txt", "precious");
    EXPECT_EQ(pea_unpack2(nullptr, pea.c_str(), out().c_str(), nullptr, "pw", nullptr, kNoFlags.data()) & kClass,
              0x00420000u);
    EXPECT_EQ(pea_unpack1(nullptr, one.c_str(), out().c_str(), "pw", nullptr, kNoFlags.data()) & kClass,
              0x00420000u);
    // Going on past the damage is not offered for a forged stream either.
    const uint32_t go_on[2] = {0, 8};
    EXPECT_EQ(pea_unpack2(nullptr, pea.c_str(), out().c_str(), nullptr, "pw", nullptr, go_on) & kClass,
              0x00420000u);
    EXPECT_EQ(ReadFile(dir / "out/data.txt"), "precious");
    // Folders may stay; no file of the archive does, under any name.
    for (const auto& e : fs::recursive_directory_iterator(out()))
      EXPECT_TRUE(e.is_directory() || e.path().filename() == "data.txt") << e.path();
  }
  std::string good = dir / "g.pea";
  ASSERT_EQ(pea_pack2(nullptr, good.c_str(), (dir / "src/*").c_str(), "pw", nullptr, PeaWords(2, 49, 2).data()),
            0u);
  EXPECT_EQ(pea_unpack2(nullptr, good.c_str(), out().c_str(), nullptr, "pw", nullptr, kNoFlags.data()), 0u);
  EXPECT_EQ(ReadFile(dir / "out/data.txt"), ReadFile(dir / "src/data.txt"));
  EXPECT_EQ(ReadFile(dir / "out/sub/more.txt"), "below");
}

TEST_F(Safety, AFailedPackKeepsThePreviousArchive) {
  std::string zip = dir / "old.zip", pea = dir / "old.pea", list = dir / "list.txt";
  WriteFile(zip, "old zip");
  WriteFile(pea, "old pea");
  WriteFile(list, dir.path().string() + "/src\r\ndata.txt\r\nmissing.txt\r\n");
  auto zw = ZipWords(8);
  zw[14] = 1;
  EXPECT_NE(zip_pack2(nullptr, zip.c_str(), list.c_str(), nullptr, zw.data()), 0u);
  auto pw = PeaWords(2, 19, 2);
  pw[7] = 1;
  EXPECT_NE(pea_pack2(nullptr, pea.c_str(), list.c_str(), "", nullptr, pw.data()), 0u);
  EXPECT_EQ(ReadFile(zip), "old zip");
  EXPECT_EQ(ReadFile(pea), "old pea");
  EXPECT_EQ(Names(dir.path()), (std::set<std::string>{"list.txt", "old.pea", "old.zip", "out", "src"}));
  // A successful pack replaces it.
  EXPECT_EQ(zip_pack2(nullptr, zip.c_str(), (dir / "src/*").c_str(), nullptr, ZipWords(8).data()), 0u);
  EXPECT_EQ(ReadFile(zip).substr(0, 2), "PK");
}

TEST_F(Safety, AnArchiveIsNeverItsOwnInput) {
  std::string data = dir / "src/data.txt", list = dir / "names.txt";
  std::string before = ReadFile(data);
  EXPECT_EQ(zip_pack1(nullptr, data.c_str(), data.c_str(), nullptr, ZipWords().data()), 0x01020000u);
  EXPECT_EQ(pea_pack1(nullptr, data.c_str(), data.c_str(), "", nullptr, PeaWords(2, 19, 2).data()), 0x01020000u);
  EXPECT_EQ(ReadFile(data), before);
  WriteFile(list, dir.path().string() + "/src\r\ndata.txt\r\n");
  auto zw = ZipWords();
  zw[14] = 1;
  auto pw = PeaWords(2, 19, 2);
  pw[7] = 1;
  EXPECT_EQ(zip_pack2(nullptr, list.c_str(), list.c_str(), nullptr, zw.data()), 0x01020000u);
  EXPECT_EQ(pea_pack2(nullptr, list.c_str(), list.c_str(), "", nullptr, pw.data()), 0x01020000u);
  // The key file is an input too.
  EXPECT_EQ(pea_pack1(nullptr, list.c_str(), data.c_str(), "", list.c_str(), PeaWords(2, 49, 2).data()),
            0x01020000u);
  EXPECT_EQ(ReadFile(list), dir.path().string() + "/src\r\ndata.txt\r\n");

  // An archive inside the folder it packs is left out of its own walk.
  std::string inside = dir / "src/self.zip", pea = dir / "src/self.pea";
  for (int round = 0; round < 2; ++round)
    ASSERT_EQ(zip_pack2(nullptr, inside.c_str(), (dir / "src/").c_str(), nullptr, ZipWords().data()), 0u);
  std::string zip_bytes = ReadFile(inside);
  fs::remove(inside);
  for (int round = 0; round < 2; ++round)
    ASSERT_EQ(pea_pack2(nullptr, pea.c_str(), (dir / "src/").c_str(), "", nullptr, PeaWords(2, 19, 2).data()),
              0u);
  std::string pea_bytes = ReadFile(pea);
  EXPECT_EQ(zip_bytes.find("self.zip"), std::string::npos);
  EXPECT_EQ(pea_bytes.find("self.pea"), std::string::npos);
  EXPECT_NE(zip_bytes.find("src/data.txt"), std::string::npos);
}

// out/link -> outside folder, out/file.txt -> outside/secret.txt: what an earlier archive or
// another user may have left in the output folder.
TEST_F(Safety, LinksInTheOutputFolderCarryNoWriteOutsideIt) {
  fs::create_directories(dir.path() / "outside");
  WriteFile(dir / "outside/secret.txt", "secret");
  fs::create_directories(dir.path() / "tree/link");
  WriteFile(dir / "tree/link/evil.txt", "evil");
  WriteFile(dir / "tree/file.txt", "plain");
  std::string zip = dir / "t.zip", pea = dir / "t.pea";
  ASSERT_EQ(zip_pack2(nullptr, zip.c_str(), (dir / "tree/*").c_str(), nullptr, ZipWords().data()), 0u);
  ASSERT_EQ(pea_pack2(nullptr, pea.c_str(), (dir / "tree/*").c_str(), "", nullptr, PeaWords(2, 19, 2).data()),
            0u);
  auto plant = [&] {
    fs::remove_all(out());
    fs::create_directory(out());
    fs::create_directory_symlink(dir.path() / "outside", dir.path() / "out/link");
    fs::create_symlink(dir.path() / "outside/secret.txt", dir.path() / "out/file.txt");
  };
  plant();
  EXPECT_EQ(zip_unpack2(nullptr, zip.c_str(), out().c_str(), nullptr, nullptr, kNoFlags.data()) & kClass,
            0x00140000u);
  plant();
  EXPECT_EQ(pea_unpack2(nullptr, pea.c_str(), out().c_str(), nullptr, "", nullptr, kNoFlags.data()) & kClass,
            0x00140000u);
  // Only the final link: the file replaces the link, not what it points to.
  fs::remove(dir.path() / "out/link");
  const std::array<uint32_t, 2> flags = {0, 0};
  EXPECT_EQ(zip_unpack2(nullptr, zip.c_str(), out().c_str(), "file.txt", nullptr, flags.data()), 0u);
  EXPECT_FALSE(fs::is_symlink(dir.path() / "out/file.txt"));
  EXPECT_EQ(ReadFile(dir / "out/file.txt"), "plain");
  EXPECT_EQ(Names(dir.path() / "outside"), std::set<std::string>{"secret.txt"});
  EXPECT_EQ(ReadFile(dir / "outside/secret.txt"), "secret");
}

TEST_F(Safety, PackingFollowsLinksButEntersEachFolderOnce) {
  fs::create_directory_symlink(dir.path() / "src", dir.path() / "src/sub/loop");
  fs::create_directory_symlink("..", dir.path() / "src/sub/up");
  std::string zip = dir / "l.zip", pea = dir / "l.pea";
  ASSERT_EQ(zip_pack2(nullptr, zip.c_str(), (dir / "src").c_str(), nullptr, ZipWords().data()), 0u);
  ASSERT_EQ(pea_pack2(nullptr, pea.c_str(), (dir / "src").c_str(), "", nullptr, PeaWords(2, 19, 2).data()), 0u);
  ASSERT_EQ(zip_unpack2(nullptr, zip.c_str(), out().c_str(), nullptr, nullptr, kNoFlags.data()), 0u);
  std::set<std::string> found;
  for (const auto& e : fs::recursive_directory_iterator(out()))
    found.insert(fs::relative(e.path(), out()).string());
  EXPECT_EQ(found, (std::set<std::string>{"src", "src/data.txt", "src/sub", "src/sub/more.txt", "src/sub/loop",
                                          "src/sub/up"}));
  fs::remove_all(out());
  fs::create_directory(out());
  ASSERT_EQ(pea_unpack2(nullptr, pea.c_str(), out().c_str(), nullptr, "", nullptr, kNoFlags.data()), 0u);
  EXPECT_EQ(ReadFile(dir / "out/src/sub/more.txt"), "below");
  EXPECT_TRUE(fs::is_directory(dir.path() / "out/src/sub/loop"));
  EXPECT_TRUE(fs::is_empty(dir.path() / "out/src/sub/loop"));
}

TEST_F(Safety, FilesThatCannotBePackedFailTheCall) {
  // A name that is not UTF-8 cannot be stored; leaving it out silently would lose it.
  WriteFile(dir / "src/sub/bad-\xff.txt", "x");
  std::string zip = dir / "n.zip", pea = dir / "n.pea";
  EXPECT_EQ(zip_pack2(nullptr, zip.c_str(), (dir / "src/*").c_str(), nullptr, ZipWords().data()), 0x01203901u);
  EXPECT_EQ(pea_pack2(nullptr, pea.c_str(), (dir / "src/*").c_str(), "", nullptr, PeaWords(2, 19, 2).data()),
            0x01203901u);
  EXPECT_FALSE(fs::exists(zip));
  EXPECT_FALSE(fs::exists(pea));
  fs::remove(dir.path() / "src/sub/bad-\xff.txt");

  // A folder that cannot be read: through the command, as an unprivileged user when the
  // tests run as root (who reads every folder).
  fs::permissions(dir.path(), fs::perms::all);
  fs::permissions(dir.path() / "src/sub", fs::perms::none);
  std::string as_user = ::geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
  for (const char* family : {"zip", "pea"}) {
    int status = -1;
    std::string text = Shell(as_user + TX_CLI_PATH + std::string(" ") + family + " pack " + dir / "u.x" + " '" +
                                 dir / "src/*' 2>&1",
                             &status);
    EXPECT_EQ(status, 1) << text;
    EXPECT_NE(text.find("0x01013901"), std::string::npos) << text;
  }
  fs::permissions(dir.path() / "src/sub", fs::perms::owner_all);
  EXPECT_FALSE(fs::exists(dir.path() / "u.x"));
}


// A write that fails half-way (the disk full, here a file-size limit in a child process)
// or a process killed half-way leaves the old file as it was.
TEST_F(Safety, AFullDiskOrAKillKeepsTheOldFile) {
  WriteFile(dir / "src/big.bin", RandomBytes(4 << 20, 7));
  std::string zip = dir / "big.zip", pea = dir / "big.pea";
  ASSERT_EQ(zip_pack1(nullptr, zip.c_str(), (dir / "src/big.bin").c_str(), nullptr, ZipWords().data()), 0u);
  ASSERT_EQ(pea_pack1(nullptr, pea.c_str(), (dir / "src/big.bin").c_str(), "", nullptr, PeaWords(2, 19, 2).data()),
            0u);
  WriteFile(dir / "out/big.bin", "precious");
  auto limited = [&](auto call) {
    return InChild([&] {
      ::signal(SIGXFSZ, SIG_IGN);
      rlimit limit{1 << 20, 1 << 20};
      ::setrlimit(RLIMIT_FSIZE, &limit);
      return call();
    });
  };
  EXPECT_EQ(limited([&] {
              return zip_unpack1(nullptr, zip.c_str(), out().c_str(), nullptr, kNoFlags.data()) & kClass;
            }),
            0x01040000u);
  EXPECT_EQ(limited([&] {
              return pea_unpack1(nullptr, pea.c_str(), out().c_str(), "", nullptr, kNoFlags.data()) & kClass;
            }),
            0x01040000u);
  EXPECT_EQ(ReadFile(dir / "out/big.bin"), "precious");
  EXPECT_EQ(Names(out()), std::set<std::string>{"big.bin"});
  std::string zip_before = ReadFile(zip), pea_before = ReadFile(pea);
  EXPECT_EQ(limited([&] {
              return zip_pack1(nullptr, zip.c_str(), (dir / "src/big.bin").c_str(), nullptr, ZipWords().data()) &
                     kClass;
            }),
            0x01040000u);
  EXPECT_EQ(ReadFile(zip), zip_before);
  // The same through Deflate, whose large members are coded in pieces on two threads.
  EXPECT_EQ(limited([&] {
              return zip_pack1(nullptr, zip.c_str(), (dir / "src/big.bin").c_str(), nullptr, ZipWords(8).data()) &
                     kClass;
            }),
            0x01040000u);
  EXPECT_EQ(ReadFile(zip), zip_before);
  // And one 7z solid block, whose LZMA matches are found on a second thread.
  const std::string svz = dir / "big.7z";
  const std::array<uint32_t, 16> lzma = {0, 0, 3, 5, 0, 0, 0, 3, 0, 6, 0, 16};
  ASSERT_EQ(svz_pack3(nullptr, svz.c_str(), (dir / "src/big.bin").c_str(), nullptr, lzma.data()), 0u);
  const std::string svz_before = ReadFile(svz);
  EXPECT_EQ(limited([&] {
              ::setenv("TESSAREX_THREADS", "2", 1);
              return svz_pack3(nullptr, svz.c_str(), (dir / "src/big.bin").c_str(), nullptr, lzma.data()) &
                     kClass;
            }),
            0x01040000u);
  EXPECT_EQ(ReadFile(svz), svz_before);

  // Killed while packing slowly (BZip2 of random data): the old archive is whole.
  WriteFile(dir / "src/big.bin", RandomBytes(48 << 20, 8));
  auto killed = [&](int signal, std::vector<std::string> args) {
    pid_t pid = ::fork();
    if (pid == 0) {
      ::signal(SIGINT, SIG_DFL);
      std::vector<char*> argv;
      for (std::string& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv(TX_CLI_PATH, argv.data());
      ::_exit(127);
    }
    ::usleep(500000);
    ::kill(pid, signal);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFSIGNALED(status) && WTERMSIG(status) == signal;
  };
  for (int signal : {SIGINT, SIGTERM, SIGKILL}) {
    EXPECT_TRUE(killed(signal, {"tessarex", "zip", "pack1", zip, dir / "src/big.bin", "--method", "bzip2"}));
    EXPECT_EQ(ReadFile(zip), zip_before) << signal;
    // The command removes its temporary file on the signals it can catch.
    if (signal != SIGKILL) {
      for (const auto& e : fs::directory_iterator(dir.path())) {
        EXPECT_EQ(e.path().filename().string().find(".tessarex-"), std::string::npos) << signal;
      }
    }
  }
  EXPECT_TRUE(killed(SIGKILL, {"tessarex", "pea", "pack1", pea, dir / "src/big.bin", "--compression", "better"}));
  EXPECT_EQ(ReadFile(pea), pea_before);
}

}  // namespace
}  // namespace tx::test
