// 7z updates: every result passes 7-Zip's test and extracts to what was asked for, packed
// streams are copied untouched, encrypted headers stay encrypted, and a failed update
// leaves the archive as it was.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "svz_unpack/svz_test.h"

namespace tx::test {
namespace {

using Update = SvzScratch;
using Tree_t = std::map<std::string, std::string>;

uint32_t Delete(const std::string& archive, const char* filter, bool folders, const char* password = nullptr) {
  uint32_t options[1] = {0};
  return folders ? svz_delete2(nullptr, archive.c_str(), nullptr, filter, password, options)
                 : svz_delete(nullptr, archive.c_str(), nullptr, filter, password, options);
}

uint32_t Add(const std::string& to, const std::string& from, const char* filter, int mode,
             const char* password = nullptr) {
  uint32_t options[2] = {0, static_cast<uint32_t>(mode)};
  return mode < 0 ? svz_add2(nullptr, to.c_str(), from.c_str(), nullptr, filter, password, options)
                  : svz_add(nullptr, to.c_str(), from.c_str(), nullptr, filter, password, options);
}

class Peer7z {
 public:
  // 7-Zip's own test of the archive, and its extraction.
  static bool Tests(const std::string& archive, const char* password = nullptr) {
    int status = 0;
    Shell("7zz t -bd " + std::string(password ? "-p" + std::string(password) + " " : "") + Quote(archive) +
              " > /dev/null 2>&1",
          &status);
    return status == 0;
  }
};

class UpdateTest : public Update {
 protected:
  Tree_t Extract(const std::string& archive, const char* password = nullptr) {
    std::string out = Out();
    int status = 0;
    Shell("7zz x -bd -y " + std::string(password ? "-p" + std::string(password) + " " : "") + "-o" +
              Quote(out) + " " + Quote(archive) + " > /dev/null 2>&1",
          &status);
    EXPECT_EQ(status, 0) << archive;
    return Tree(out);
  }
  std::string Copy(const std::string& archive) {
    std::string path = Save(ReadFile(archive));
    return path;
  }
};

const Tree_t kFiles = {{"a.txt", std::string(3000, 'a')},
                       {"b.txt", "bbbbbbbbbbbbbbbbbbbbbbbbbbbbbb bbbbbb"},
                       {"c.bin", RandomBytes(20000, 3)},
                       {"d/e.txt", "inside a folder"},
                       {"d/", ""},
                       {"empty", ""}};

TEST_F(UpdateTest, DeletesFromOurAndPeerArchivesPassThePeersTest) {
  Source(kFiles);
  for (std::string switches : {"-ms=off", "-ms=off -mhe=on -psecret", "-ms=off -mhc=off -mtc=on -mta=on"}) {
    const char* password = switches.find("-psecret") != std::string::npos ? "secret" : nullptr;
    const std::string archive = SevenZip(switches);
    const std::string before = ReadFile(archive);
    ASSERT_EQ(Delete(archive, "c.bin", false, password), 0u) << switches;
    EXPECT_TRUE(Peer7z::Tests(archive, password)) << switches;
    Tree_t expected = kFiles;
    expected.erase("c.bin");
    EXPECT_EQ(Extract(archive, password), expected) << switches;
    // The kept streams are the old bytes: the 3000 a's compress to a run found in both.
    EXPECT_LT(ReadFile(archive).size(), before.size());
    if (password != nullptr) {
      std::string text;
      EXPECT_NE(List(archive, text), 0u) << "the header is still encrypted";
      EXPECT_EQ(List(archive, text, password), 0u);
      EXPECT_NE(text.find("Encrypt"), std::string::npos) << text;
    }
    // Entries without data go by the filter too.
    ASSERT_EQ(Delete(archive, "empty", false, password), 0u);
    expected.erase("empty");
    EXPECT_EQ(Extract(archive, password), expected) << switches;
  }
}

TEST_F(UpdateTest, SolidFoldersGoOnlyWhenEveryFileMatches) {
  Source(kFiles);
  const std::string archive = SevenZip("-ms=on -mhc=off");
  EXPECT_EQ(Delete(archive, "a.txt", false), 0x00600101u);  // entry by entry: solid refused
  ASSERT_EQ(Delete(archive, "*.txt", true), 0u);  // a.txt, b.txt, d/e.txt share the block with c.bin
  EXPECT_TRUE(Peer7z::Tests(archive));
  EXPECT_EQ(Extract(archive), kFiles);
  ASSERT_EQ(Delete(archive, "*", true), 0u);
  EXPECT_TRUE(Peer7z::Tests(archive));
  EXPECT_EQ(Extract(archive), Tree_t{});
}

TEST_F(UpdateTest, AddModesDecideBetweenSameNamedEntries) {
  // Destination: old a.txt and x.txt; source: newer a.txt and b.txt.
  Source({{"a.txt", "old a"}, {"x.txt", "only in the destination"}});
  Shell("touch -d '2020-01-01' " + Quote(dir / "src/a.txt"));
  const std::string destination = SevenZip("-ms=off");
  Source({{"a.txt", "new a"}, {"b.txt", "only in the source"}});
  const std::string source = SevenZip("-ms=off -mhe=on -pk");
  struct Case {
    int mode;
    const char* a;
  } cases[] = {{0, "old a"}, {1, "new a"}, {2, "new a"}};
  for (const Case& c : cases) {
    const std::string to = Copy(destination);
    ASSERT_EQ(Add(to, source, nullptr, c.mode, "k"), 0u) << c.mode;
    EXPECT_TRUE(Peer7z::Tests(to, "k")) << c.mode;  // the source's entries stay encrypted
    EXPECT_EQ(Extract(to, "k"), (Tree_t{{"a.txt", c.a}, {"b.txt", "only in the source"}, {"x.txt", "only in the destination"}}))
        << c.mode;
  }
  // Mode 2 keeps a destination entry that is not older; the filter limits what is offered.
  const std::string back = Copy(source);
  ASSERT_EQ(Add(back, destination, "a.txt", 2, "k"), 0u);
  EXPECT_EQ(Extract(back, "k"), (Tree_t{{"a.txt", "new a"}, {"b.txt", "only in the source"}}));
}

TEST_F(UpdateTest, FolderLevelAddAppendsSolidBlocks) {
  Source(kFiles);
  const std::string destination = SevenZip("-ms=on -mhc=off");  // a plain header right behind the streams
  Source({{"n/one.txt", "one one one"}, {"n/two.txt", "two two two"}, {"three.txt", "three"}});
  const std::string source = SevenZip("-ms=on -mx=9");
  EXPECT_EQ(Add(destination, source, nullptr, 0), 0x00600101u);
  const std::string before = ReadFile(destination);
  ASSERT_EQ(Add(destination, source, "n/one.txt", -1), 0u);
  EXPECT_TRUE(Peer7z::Tests(destination));
  Tree_t expected = kFiles;
  // The whole solid block of the source comes along with the one file asked for.
  expected.insert({{"n/", ""}, {"n/one.txt", "one one one"}, {"n/two.txt", "two two two"}, {"three.txt", "three"}});
  EXPECT_EQ(Extract(destination), expected);
  // The destination's packed streams are copied as they were.
  const std::string after = ReadFile(destination);
  const size_t packed = static_cast<size_t>(Load64(before, 12));  // the start header's next-header offset
  EXPECT_EQ(after.compare(32, packed, before, 32, packed), 0);
}

TEST_F(UpdateTest, RefusalsAndFailuresLeaveTheArchiveAsItWas) {
  Source(kFiles);
  const std::string archive = SevenZip("-ms=off");
  const std::string before = ReadFile(archive);
  EXPECT_EQ(Add(archive, archive, nullptr, 0), 0x00010001u);
  EXPECT_EQ(Add(archive, dir / "missing.7z", nullptr, 0) & 0xFF00u, 0x0200u);  // the source's place
  EXPECT_EQ(Add(archive, archive + ".x", nullptr, 3), 0x00020001u);
  EXPECT_NE(Delete(archive, nullptr, false), 0u);
  std::string damaged = Save(before.substr(0, before.size() - 10));
  EXPECT_NE(Add(archive, damaged, nullptr, 1), 0u);
  EXPECT_NE(Delete(damaged, "*", false), 0u);
  EXPECT_EQ(ReadFile(archive), before);
  // No temporary file is left beside it.
  size_t files = 0;
  for (const auto& e : fs::directory_iterator(fs::path(archive).parent_path()))
    files += e.path().filename().string().find(".tessarex-") != std::string::npos;
  EXPECT_EQ(files, 0u);
}

TEST_F(UpdateTest, AKilledDeleteLeavesTheOldOrTheNewArchive) {
  Tree_t big;
  for (int i = 0; i < 6; ++i) big["m" + std::to_string(i)] = RandomBytes(8 << 20, 40 + i);
  Source(big);
  const std::string archive = SevenZip("-ms=off -m0=Copy");
  const std::string before = ReadFile(archive);
  const std::string model = Copy(archive);
  ASSERT_EQ(Delete(model, "m2", false), 0u);
  const std::string after = ReadFile(model);
  for (int delay_us : {0, 2000, 10000, 30000, 60000, 120000, 250000}) {
    WriteFile(archive, before);
    pid_t pid = ::fork();
    if (pid == 0) {
      ::execl(TX_CLI_PATH, "tessarex", "7z", "delete", "--filter", "m2", archive.c_str(), nullptr);
      ::_exit(127);
    }
    ::usleep(static_cast<useconds_t>(delay_us));
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    const std::string now = ReadFile(archive);
    EXPECT_TRUE(now == before || now == after) << "killed after " << delay_us << " us";
  }
}

}  // namespace
}  // namespace tx::test
