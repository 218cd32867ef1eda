// Packing on two threads: the archive is the one a single thread writes, encrypted members
// keep their layout, and Cancel and failures end the call as they do on one thread.
#include <cstdlib>

#include "zip_pack_test.h"

namespace tx::test {
namespace {

class ZipPackThreads : public ::testing::Test {
 protected:
  void SetUp() override {
    // About 200 members: folders, empty files, many small ones, a few that outgrow the
    // buffers a helper thread packs into.
    for (unsigned i = 0; i < 200; ++i) {
      std::string folder = "d";
      folder.append(std::to_string(i % 7)).append("/");
      fs::create_directories(src.path() / folder);
      const size_t size = i % 50 == 7   ? (3u << 20) + i
                          : i % 23 == 0 ? 0
                          : i % 9 == 0  ? 200000 + i
                                        : 40 * i + 1;
      WriteFile(src / (folder + "f" + std::to_string(i)), Mixed(size, i));
    }
  }
  ~ZipPackThreads() override { ::unsetenv("TESSAREX_THREADS"); }

  uint32_t PackWith(const char* threads, const Words& w, const std::string& archive,
                    const char* password = nullptr) {
    ::setenv("TESSAREX_THREADS", threads, 1);
    return zip_pack2(nullptr, archive.c_str(), (src / "*").c_str(), password, w.data());
  }
  // Each member's local header offset, stored size and stored name, from the directory.
  static std::vector<std::string> Layout(const std::string& archive) {
    std::vector<std::string> layout;
    for (const auto& [central, local] : ReadArchive(archive).entries)
      layout.push_back(central.name + " " + std::to_string(central.offset) + " " +
                       std::to_string(central.packed));
    return layout;
  }

  TempDir src, dir;
};

TEST_F(ZipPackThreads, TwoThreadsWriteTheSameBytesAsOne) {
  for (uint32_t method : {8u, 12u, 0u}) {
    const std::string one = dir / "one.zip", two = dir / "two.zip";
    ASSERT_EQ(PackWith("1", Pack(method, 6), one), 0u) << method;
    ASSERT_EQ(PackWith("2", Pack(method, 6), two), 0u) << method;
    EXPECT_EQ(ReadArchive(two).entries.size(), 207u);
    EXPECT_TRUE(ReadFile(one) == ReadFile(two)) << "method " << method;
    std::string out;
    EXPECT_EQ(Peer("unzip -tq " + Quote(two), &out), 0) << out;
  }
}

TEST_F(ZipPackThreads, EncryptedMembersKeepTheirLayoutAndOpen) {
  // Salts and IVs are random, so the bytes differ; offsets and sizes may not.
  const Words kinds[] = {Aes(2, 32), Aes(2, 16, 12), {0, 0, 8, 6, 0, 12, 32, 16, 16, 1}};
  for (const Words& w : kinds) {
    const std::string one = dir / "one.zip", two = dir / "two.zip";
    ASSERT_EQ(PackWith("1", w, one, "secret"), 0u) << w[5];
    ASSERT_EQ(PackWith("2", w, two, "secret"), 0u) << w[5];
    EXPECT_EQ(Layout(one), Layout(two)) << w[5];
    EXPECT_EQ(fs::file_size(one), fs::file_size(two));
    const Words unpack = {};
    const std::string to = dir / "out";
    fs::remove_all(to);
    fs::create_directory(to);
    ASSERT_EQ(zip_unpack2(nullptr, two.c_str(), to.c_str(), nullptr, "secret", unpack.data()), 0u) << w[5];
    EXPECT_TRUE(Tree(to) == Tree(src.path())) << w[5];
    if (w[5] == 2) {
      std::string out;
      EXPECT_EQ(Peer("7zz t -psecret " + Quote(two), &out), 0) << out;
    }
  }
}

TEST_F(ZipPackThreads, CancelAndFailuresEndTheCallAsOnOneThread) {
  const std::string archive = dir / "out.zip";
  Words w = Pack(8, 6);
  w[1] = 1;
  // Turns in the middle of the tree: in member announcements and in member blocks.
  for (unsigned turn : {40u, 41u, 150u, 333u}) {
    uint32_t codes[2];
    for (int t = 0; t < 2; ++t) {
      ScriptedUi ui;
      ui.dialogs.PressAt(turn, ui::ProgressEvent::Cancel);
      codes[t] = PackWith(t == 0 ? "1" : "2", w, archive);
      EXPECT_FALSE(fs::exists(archive)) << turn;
    }
    EXPECT_EQ(codes[0], codes[1]) << turn;
    EXPECT_EQ(codes[0] >> 16, 0x90u) << turn;
  }
  // A listed file that is missing: the same failure, found by whichever thread comes first.
  Words list = Pack(8, 6);
  list[14] = 1;
  std::string names = src.path().string() + "\r\n";
  for (unsigned i = 0; i < 150; ++i)
    names.append("d").append(std::to_string(i % 7)).append("/f").append(std::to_string(i)).append("\r\n");
  names += "d0/missing\r\nd1/f1\r\n";
  WriteFile(dir / "names.lst", names);
  for (const char* threads : {"1", "2"}) {
    ::setenv("TESSAREX_THREADS", threads, 1);
    EXPECT_EQ(zip_pack2(nullptr, archive.c_str(), (dir / "names.lst").c_str(), nullptr, list.data()),
              0x10a0000u);
    EXPECT_FALSE(fs::exists(archive));
  }
}

}  // namespace
}  // namespace tx::test
