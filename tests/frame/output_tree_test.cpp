// Files written beneath an output folder: they take their names only when committed, in
// the folder they were created in, and leave no temporary file behind on any path.
#include "frame/output_tree.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <set>
#include <string>

#include "../test_support.h"
#include "platform/temporaries.h"

namespace {

namespace fs = std::filesystem;
using tx::frame::OutputFile;
using tx::frame::OutputTree;
using tx::test::ReadFile;
using tx::test::TempDir;
using tx::test::WriteFile;

constexpr tx::StatusCode kCreateFailed = 0x01020101;

std::u16string W(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

// Every entry beneath `root`, "/"-separated; temporary files show up by their marker.
std::set<std::string> Entries(const fs::path& root) {
  std::set<std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(root))
    out.insert(e.path().lexically_relative(root).generic_string());
  return out;
}

bool Put(OutputFile& out, const std::string& text) { return out.file().Write(text.data(), text.size()); }

class OutputTreeTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(tree_.Open(W(dir_.path().string()).c_str()), tx::kOk); }
  TempDir dir_;
  OutputTree tree_;
};

TEST_F(OutputTreeTest, FilesStayInTheirFolderWhileTheTreeMovesOn) {
  // Later files open other folders (and the tree itself is reopened elsewhere) before the
  // earlier ones are committed: each still lands in its own folder.
  TempDir other;
  OutputFile first, second, third, fourth;
  ASSERT_EQ(tree_.CreateFile(u"a/one.txt", first, kCreateFailed), tx::kOk);
  ASSERT_EQ(tree_.CreateFile(u"b/c/two.txt", second, kCreateFailed), tx::kOk);
  ASSERT_EQ(tree_.CreateFile(u"top.txt", third, kCreateFailed), tx::kOk);
  ASSERT_EQ(tree_.CreateFile(u"a/four.txt", fourth, kCreateFailed), tx::kOk);
  ASSERT_TRUE(Put(first, "1") && Put(second, "22") && Put(third, "333") && Put(fourth, "4444"));
  ASSERT_EQ(tree_.Open(W(other.path().string()).c_str()), tx::kOk);
  EXPECT_TRUE(second.Commit());
  EXPECT_TRUE(first.Commit());
  EXPECT_TRUE(third.Commit());
  EXPECT_TRUE(fourth.Commit());
  EXPECT_EQ(Entries(dir_.path()),
            (std::set<std::string>{"a", "a/four.txt", "a/one.txt", "b", "b/c", "b/c/two.txt", "top.txt"}));
  EXPECT_EQ(ReadFile(dir_ / "a/one.txt"), "1");
  EXPECT_EQ(ReadFile(dir_ / "b/c/two.txt"), "22");
  EXPECT_EQ(ReadFile(dir_ / "top.txt"), "333");
  EXPECT_EQ(ReadFile(dir_ / "a/four.txt"), "4444");
  EXPECT_TRUE(fs::is_empty(other.path()));
}

TEST_F(OutputTreeTest, UncommittedFilesLeaveTheOldOnesAndNoTemporary) {
  fs::create_directories(dir_ / "a");
  WriteFile(dir_ / "a/keep.txt", "old");
  {
    OutputFile discarded, dropped;
    ASSERT_EQ(tree_.CreateFile(u"a/keep.txt", discarded, kCreateFailed), tx::kOk);
    ASSERT_EQ(tree_.CreateFile(u"b/new.txt", dropped, kCreateFailed), tx::kOk);
    ASSERT_TRUE(Put(discarded, "new") && Put(dropped, "new"));
    discarded.Discard();
    EXPECT_FALSE(discarded.Commit()) << "nothing left to commit";
  }  // `dropped` goes away uncommitted
  EXPECT_EQ(Entries(dir_.path()), (std::set<std::string>{"a", "a/keep.txt", "b"}));
  EXPECT_EQ(ReadFile(dir_ / "a/keep.txt"), "old");

  // A deferred file is removed with the tree when it was never published.
  {
    OutputTree tree;
    ASSERT_EQ(tree.Open(W(dir_.path().string()).c_str()), tx::kOk);
    OutputFile out;
    ASSERT_EQ(tree.CreateFile(u"b/later.txt", out, kCreateFailed), tx::kOk);
    ASSERT_EQ(tree.Defer(out, u"b/later.txt", tx::platform::kAttrArchive), tx::kOk);
  }
  EXPECT_EQ(Entries(dir_.path()), (std::set<std::string>{"a", "a/keep.txt", "b"}));

  // A folder or a link where the file must go is refused before anything is written.
  fs::create_directories(dir_ / "a/sub");
  fs::create_symlink(dir_ / "a", dir_ / "link");
  OutputFile out;
  EXPECT_EQ(tree_.CreateFile(u"a/sub", out, kCreateFailed), kCreateFailed);
  EXPECT_EQ(tree_.CreateFile(u"link/x.txt", out, kCreateFailed), 0x00143A02u);
  EXPECT_EQ(Entries(dir_.path()), (std::set<std::string>{"a", "a/keep.txt", "a/sub", "b", "link"}));
}

TEST_F(OutputTreeTest, PermissionsFollowTheUmaskOfEachCall) {
  const mode_t old = ::umask(077);
  OutputFile out;
  ASSERT_EQ(tree_.Open(W(dir_.path().string()).c_str()), tx::kOk);
  ASSERT_EQ(tree_.CreateFile(u"private.txt", out, kCreateFailed), tx::kOk);
  EXPECT_TRUE(out.Commit(tx::platform::kAttrArchive, 0100644));
  ::umask(022);
  ASSERT_EQ(tree_.Open(W(dir_.path().string()).c_str()), tx::kOk);
  ASSERT_EQ(tree_.CreateFile(u"shared.txt", out, kCreateFailed), tx::kOk);
  EXPECT_TRUE(out.Commit(tx::platform::kAttrArchive, 0100755));
  ::umask(old);
  EXPECT_EQ(fs::status(dir_ / "private.txt").permissions(), fs::perms(0600));
  EXPECT_EQ(fs::status(dir_ / "shared.txt").permissions(), fs::perms(0755));
}

TEST(TemporaryNames, DistinctWithinTheProcess) {
  std::set<std::string> seen;
  for (int i = 0; i < 20000; ++i) {
    char unique[tx::platform::kUniqueChars];
    tx::platform::UniqueChars(unique);
    std::string name(unique, sizeof unique);
    for (char c : name) ASSERT_TRUE(std::isalnum(static_cast<unsigned char>(c))) << name;
    ASSERT_TRUE(seen.insert(name).second) << name;
  }
}

}  // namespace
