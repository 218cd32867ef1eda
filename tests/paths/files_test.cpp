#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "frame/output_tree.h"
#include "frame/paths.h"
#include "platform/fs.h"
#include "support.h"

namespace tx::frame {
namespace {

namespace fs = std::filesystem;
using test::U8;
using test::W;

constexpr platform::FileTime kWriteTime = 132537600000000000;  // 2021-01-01 00:00:00 UTC
constexpr platform::FileTime kCreationTime = 132000000000000000;

class Files : public ::testing::Test {
 protected:
  std::u16string P(const std::string& relative) { return W(root_ + "/" + relative); }
  std::string Out() { return U8(out_.c_str()) + "|" + U8(name_.c_str()); }
  std::string Read(const std::string& relative) {
    std::ifstream in(dir_.path() / relative, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  platform::FileTime WriteTime(const std::string& relative) {
    platform::FileInfo info;
    return platform::GetFileInfo(P(relative).c_str(), info) ? info.last_write : 0;
  }
  // The working directory is removed for the rest of the test: it can no longer be named.
  void LoseWorkingDirectory() {
    fs::create_directory(dir_ / "gone");
    fs::current_path(dir_ / "gone");
    fs::remove(dir_ / "gone");
  }
  void TearDown() override { fs::current_path(saved_cwd_); }

  fs::path saved_cwd_ = fs::current_path();
  std::string cwd_ = saved_cwd_.string() + "/";
  test::TempDir dir_;
  std::string root_ = dir_.path().string();
  platform::WidePath out_, name_;
};

TEST_F(Files, SplitSourcePath) {
  // clang-format off
  const std::tuple<const char*, std::string, StatusCode> cases[] = {
      {"/data/folder/", "/data/|folder/", 0}, {"D:\\data\\folder\\", "D:/data/|folder/", 0},
      {"/data/f.txt", "/data/|f.txt", 0},     {"/top/", "/|top/", 0},
      {"dir\\sub/f", "dir/sub/|f", 0},        {"f.txt", cwd_ + "|f.txt", 0},
      {"D:\\", "|", 0x00103301},              {"ab/", "|", 0x00103301},
      {"/", "|", 0x00103302},                 {"a//", "|", 0x00103302}};  // no folder name
  // clang-format on
  for (const auto& [source, expected, code] : cases) {
    EXPECT_EQ(SplitSourcePath(W(source).c_str(), out_, name_), code) << source;
    EXPECT_EQ(Out(), expected);
  }
  EXPECT_EQ(SplitSourcePath(std::u16string(1024, u'a').c_str(), out_, name_), 0x00113301u);
  LoseWorkingDirectory();
  EXPECT_EQ(SplitSourcePath(u"f.txt", out_, name_), 0x01093301u);
}

TEST_F(Files, OutputDirectoriesAndVolumeNames) {
  test::WriteFile(dir_ / "file", "x");
  EXPECT_TRUE(ResolveOutputDirectory(W(root_ + "\\").c_str(), u"x/a.zip", out_) == 0 &&
              Out() == root_ + "/|");
  EXPECT_TRUE(ResolveOutputDirectory(u"", u"C:\\arc\\a.zip", out_) == 0 && Out() == "C:/arc/|");
  EXPECT_TRUE(ResolveOutputDirectory(nullptr, u"a.zip", out_) == 0 && Out() == cwd_ + "|");
  EXPECT_EQ(ResolveOutputDirectory(P("missing").c_str(), u"a.zip", out_), 0x00123401u);
  EXPECT_EQ(ResolveOutputDirectory(P("file").c_str(), u"a.zip", out_), 0x00123401u);

  EXPECT_TRUE(ResolveVolumeName(u"", u"/v/x.7z.001", out_, name_, true) == 0 && Out() == "/v/|x.7z");
  EXPECT_TRUE(ResolveVolumeName(P("").c_str(), u"v\\x.001", out_, name_, false) == 0 &&
              Out() == root_ + "/|x.001");
  for (const char16_t* kept : {u"x.7z.0a1", u".001", u"001", u"x.7z.01"}) {
    EXPECT_TRUE(ResolveVolumeName(u"", kept, out_, name_, true) == 0 &&
                name_.c_str() == std::u16string(kept));
  }
  EXPECT_EQ(ResolveVolumeName(u"", u"/v/", out_, name_, true), 0x00103501u);
  EXPECT_EQ(ResolveVolumeName(P("file").c_str(), u"x", out_, name_, true), 0x00123501u);
  LoseWorkingDirectory();
  EXPECT_EQ(ResolveOutputDirectory(u"", u"a.zip", out_), 0x01093401u);
  EXPECT_EQ(ResolveVolumeName(u"", u"x.001", out_, name_, true), 0x01093501u);
}

TEST_F(Files, TempFiles) {
  EXPECT_EQ(MakeTempFile(P("").c_str(), u"svz", out_), 0u);
  fs::path made = U8(out_.c_str());
  EXPECT_TRUE(made.parent_path() == dir_.path() && made.filename().string().rfind("svz", 0) == 0);
  EXPECT_TRUE(fs::is_regular_file(made) && fs::file_size(made) == 0);
  EXPECT_EQ(MakeTempFile(P("missing").c_str(), u"ZIP", out_), 0x00123601u);
  const char* old = ::getenv("TMPDIR");
  const std::string saved = old ? old : "";
  auto with_tmpdir = [&](const std::string& value) {
    ::setenv("TMPDIR", value.c_str(), 1);
    StatusCode code = MakeTempFile(u"", u"ZIP", out_);
    old ? ::setenv("TMPDIR", saved.c_str(), 1) : ::unsetenv("TMPDIR");
    return code;
  };
  EXPECT_TRUE(with_tmpdir(root_) == 0 && fs::path(U8(out_.c_str())).parent_path() == dir_.path());
  EXPECT_EQ(with_tmpdir("/" + std::string(1100, 't')), 0x010C3601u);
  EXPECT_EQ(with_tmpdir(root_ + "/missing"), 0x010D3601u);
}

// The output folder's tree: folders made beneath it, never through a link, and files that
// take their names only when committed.
TEST_F(Files, OutputTreeFoldersAndFiles) {
  test::WriteFile(dir_ / "file", "x");
  OutputTree tree;
  ASSERT_EQ(tree.Open(P("").c_str()), 0u);
  EXPECT_EQ(OutputTree().Open(P("missing").c_str()), 0x00123401u);
  {
    OutputFile out;
    ASSERT_EQ(tree.CreateFile(u"a/b/c/name", out, 0x0102FFFF), 0u);
    EXPECT_TRUE(fs::is_directory(dir_ / "a/b/c"));
    EXPECT_FALSE(fs::exists(dir_ / "a/b/c/name"));  // a temporary name until committed
    ASSERT_TRUE(out.file().Write("data", 4));
    EXPECT_TRUE(out.Commit(0x21));
    EXPECT_EQ(Read("a/b/c/name"), "data");
    EXPECT_EQ(fs::status(dir_ / "a/b/c/name").permissions() & fs::perms::owner_write, fs::perms::none);
    ASSERT_EQ(tree.CreateFile(u"file", out, 0x0102FFFF), 0u);
    ASSERT_TRUE(out.file().Write("new", 3));
  }  // not committed: the old file stays, nothing else is left
  EXPECT_EQ(Read("file"), "x");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_.path()), fs::directory_iterator()), 2);
  OutputFile out;
  EXPECT_EQ(tree.CreateFile(u"a/b", out, 0x0102FFFF), 0x0102FFFFu);  // a folder stands there
  EXPECT_EQ(tree.CreateFile(u"file/sub/name", out, 0x0102FFFF), 0x00143A01u);
  fs::create_directory_symlink(dir_.path() / "a", dir_.path() / "link");
  EXPECT_EQ(tree.CreateFile(u"link/name", out, 0x0102FFFF), 0x00143A02u);
  EXPECT_EQ(tree.CreateFile(u"a/../x", out, 0x0102FFFF), 0x010B3A01u);
  EXPECT_EQ(tree.CreateFile((u"p/" + std::u16string(300, u'n') + u"/q/name").c_str(), out, 0x0102FFFF),
            0x010B3A01u);

  EXPECT_TRUE(tree.MakeFolder(u"a/b/", 0, kWriteTime) == 0 && WriteTime("a/b") == kWriteTime);
  EXPECT_EQ(tree.MakeFolder(u"a/b", kCreationTime, kWriteTime + 1), 0u);
  EXPECT_EQ(WriteTime("a/b"), kWriteTime + 1);
  platform::FileTime before = WriteTime("a");
  EXPECT_TRUE(tree.MakeFolder(u"a", 0, 0) == 0 && WriteTime("a") == before);
  EXPECT_EQ(tree.MakeFolder(u"file", 0, 0), 0x00143B01u);
  EXPECT_EQ(tree.MakeFolder(u"file/", 0, 0), 0x00143B01u);
  EXPECT_EQ(tree.MakeFolder(u"file/sub/d", 0, 0), 0x00143B01u);
  EXPECT_EQ(tree.MakeFolder(u"link/d", 0, 0), 0x00143B02u);
  EXPECT_EQ(tree.MakeFolder(std::u16string(300, u'n').c_str(), 0, 0), 0x010B3B01u);
  EXPECT_FALSE(fs::exists(dir_ / "a/d"));
  // Failing time calls, forced in a child process.
  auto refused = [&](int nr, const char16_t* name, platform::FileTime creation) {
    return test::InChild([&] {
      test::RefuseSyscall(nr);
      return tree.MakeFolder(name, creation, kWriteTime + 1);
    });
  };
  EXPECT_EQ(refused(SYS_statx, u"t1", 0), 0x01073B01u);
  EXPECT_EQ(refused(SYS_utimensat, u"t2", 0), 0x01063B01u);
  EXPECT_EQ(refused(SYS_utimensat, u"t3", kCreationTime), 0x01063B02u);
  EXPECT_EQ(refused(SYS_utimensat, u"a/b", kCreationTime), 0u);  // equal times are not written again
}

// Files kept back: named together by PublishAll, or all removed.
TEST_F(Files, DeferredFiles) {
  OutputTree tree;
  ASSERT_EQ(tree.Open(P("").c_str()), 0u);
  for (const char16_t* name : {u"one", u"d/two"}) {
    OutputFile out;
    ASSERT_EQ(tree.CreateFile(name, out, 1), 0u);
    ASSERT_TRUE(out.file().Write("x", 1));
    ASSERT_EQ(tree.Defer(out, name, 0x20), 0u);
  }
  EXPECT_FALSE(fs::exists(dir_ / "one") || fs::exists(dir_ / "d/two"));
  EXPECT_EQ(tree.PublishAll(), 0u);
  EXPECT_TRUE(fs::exists(dir_ / "one") && fs::exists(dir_ / "d/two"));
  {
    OutputTree other;
    ASSERT_EQ(other.Open(P("").c_str()), 0u);
    OutputFile out;
    ASSERT_EQ(other.CreateFile(u"d/three", out, 1), 0u);
    ASSERT_EQ(other.Defer(out, u"d/three", 0x20), 0u);
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_.path() / "d"), fs::directory_iterator()), 1);
}

}  // namespace
}  // namespace tx::frame
