#include "platform/fs.h"

#include <memory>

#include "platform/directory.h"
#include "platform/file.h"
#include "scratch.h"

namespace tx::platform::test {
namespace {

using FsTest = ScratchTest;
const FileTime kStamp = 133643088001234567;  // 2024-07-01 12:00:00.1234567 UTC

fs::perms Perms(const std::string& path) { return fs::status(path).permissions(); }

// A directory path of exactly `units` UTF-16 units inside `path`, created.
std::string DeepPath(std::string path, size_t units) {
  while (path.size() + 201 < units - 20) path.append("/").append(200, 'd');
  const size_t last = units - path.size() - 2;
  path.append("/").append(last, 'e').append("\xC3\xA9");  // é: two bytes, one unit
  fs::create_directories(path);
  return path;
}

TEST_F(FsTest, AttributesAndReadOnly) {
  WriteText(Path("f"), "hello");
  EXPECT_EQ(Info(Path("f")).attributes, kAttrArchive);
  EXPECT_EQ(Info(Path("f")).size, 5u);
  EXPECT_EQ(Info(dir_ + "/").attributes, kAttrDirectory);
  EXPECT_EQ(Info(Path("missing")).attributes, kNoInfo);
  fs::permissions(Path("f"), fs::perms(0464));  // only the owner's write bit counts
  EXPECT_EQ(Info(Path("f")).attributes, kAttrArchive | kAttrReadOnly);

  fs::permissions(Path("f"), fs::perms(0664));
  File file;
  ASSERT_TRUE(file.Open(WPath("f").c_str(), Access::Read, Disposition::OpenExisting));
  ASSERT_TRUE(file.SetAttributes(kAttrReadOnly | kAttrArchive));
  EXPECT_EQ(Perms(Path("f")), fs::perms(0444));
  ASSERT_TRUE(file.SetAttributes(kAttrArchive));
  EXPECT_EQ(Perms(Path("f")), fs::perms(0644));
}

TEST_F(FsTest, WriteTimeCreateAndDelete) {
  WriteText(Path("f"), "x");
  EXPECT_TRUE(CreateDirectory(WPath("d/").c_str()));
  for (const char* taken : {"d", "f", "missing/d"})
    EXPECT_FALSE(CreateDirectory(WPath(taken).c_str())) << taken;
  Directory folder;
  ASSERT_TRUE(folder.Open(WPath("d/").c_str()));
  ASSERT_TRUE(folder.SetWriteTime(kStamp));
  EXPECT_EQ(Info(Path("d")).last_write, kStamp);
  EXPECT_FALSE(Directory().Open(WPath("f").c_str()));
  EXPECT_FALSE(Directory().Open(WPath("missing").c_str()));
  EXPECT_FALSE(DeleteFile(WPath("d").c_str()));
  EXPECT_TRUE(DeleteFile(WPath("f").c_str()));
  EXPECT_FALSE(DeleteFile(WPath("f").c_str()));
}

TEST_F(FsTest, MoveWithinAndAcrossFileSystems) {
  WriteText(Path("a"), "alpha");
  WriteText(Path("b"), "beta");
  EXPECT_FALSE(MoveFile(WPath("a").c_str(), WPath("b").c_str()));  // never replaces
  ASSERT_TRUE(MoveFile(WPath("a").c_str(), WPath("c").c_str()));
  EXPECT_FALSE(MoveFile(WPath("a").c_str(), WPath("d").c_str()));
  EXPECT_EQ(ReadText(Path("b")) + ReadText(Path("c")), "betaalpha");

  std::string other = MakeUniqueDir("/dev/shm");
  if (other.empty()) GTEST_SKIP() << "no second writable file system";
  std::shared_ptr<void> cleanup(nullptr, [&](void*) { fs::remove_all(other); });
  const std::string from = other + "/src", content(200000, 'z');
  WriteText(from, content);
  std::error_code cross;
  fs::create_hard_link(from, Path("probe"), cross);
  if (cross != std::errc::cross_device_link) GTEST_SKIP() << "/dev/shm shares the file system";
  fs::permissions(from, fs::perms(0640));
  {
    File source;
    ASSERT_TRUE(source.Open(W(from).c_str(), Access::Read, Disposition::OpenExisting));
    ASSERT_TRUE(source.SetWriteTime(kStamp));
  }
  ASSERT_TRUE(MoveFile(W(from).c_str(), WPath("moved").c_str()));
  EXPECT_FALSE(fs::exists(from));
  EXPECT_EQ(ReadText(Path("moved")), content);
  EXPECT_EQ(Perms(Path("moved")), fs::perms(0640));
  EXPECT_EQ(Info(Path("moved")).last_write, kStamp);
  // Failed moves leave neither a target nor a temporary copy behind.
  WriteText(from, "new");
  fs::create_directory(other + "/dir");
  EXPECT_FALSE(MoveFile(W(from).c_str(), WPath("moved").c_str()));
  EXPECT_FALSE(MoveFile(W(other + "/dir").c_str(), WPath("dir").c_str()));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), {}), 3);
}

TEST_F(FsTest, CurrentDirectoryUpTo1023Units) {
  std::shared_ptr<void> restore(nullptr, [cwd = fs::current_path()](void*) { fs::current_path(cwd); });
  std::string deep = DeepPath(dir_, 1023);
  fs::create_directory(deep + "/x");
  fs::current_path(deep);
  WidePath cwd;
  ASSERT_TRUE(CurrentDirectory(cwd));
  EXPECT_EQ(U8(cwd.units), deep);
  EXPECT_EQ(cwd.length(), 1023u);
  fs::current_path("x");
  EXPECT_FALSE(CurrentDirectory(cwd));
  EXPECT_TRUE(cwd.empty());
}

TEST_F(FsTest, TempPathAndTempFileName) {
  const char* saved = std::getenv("TMPDIR");
  const std::string restore = saved ? saved : "";
  WidePath path, other;
  for (const std::string& tmpdir : {dir_, dir_ + "/"}) {
    ::setenv("TMPDIR", tmpdir.c_str(), 1);
    ASSERT_TRUE(TempPath(path));
    EXPECT_EQ(U8(path.units), dir_ + "/");
  }
  ::unsetenv("TMPDIR");
  ASSERT_TRUE(TempPath(path));
  EXPECT_EQ(U8(path.units), "/tmp/");
  if (saved) ::setenv("TMPDIR", restore.c_str(), 1);

  ASSERT_TRUE(TempFileName(W(dir_).c_str(), u"svz", path));
  ASSERT_TRUE(TempFileName(W(dir_ + "/").c_str(), u"svz", other));
  const std::string a = U8(path.units), b = U8(other.units);
  EXPECT_NE(a, b);
  for (const std::string& name : {a, b}) {
    EXPECT_EQ(name.rfind(dir_ + "/svz", 0), 0u) << name;
    EXPECT_EQ(name.size(), dir_.size() + 10);
    EXPECT_EQ(fs::file_size(name), 0u);
  }
  File plain;  // the permissions of any new file, not the private ones of mkstemp
  ASSERT_TRUE(plain.Open(WPath("plain").c_str(), Access::Write, Disposition::CreateAlways));
  EXPECT_EQ(Perms(a), Perms(Path("plain")));
  EXPECT_FALSE(TempFileName(WPath("missing").c_str(), u"svz", path));
  EXPECT_TRUE(path.empty());
  std::string deep = DeepPath(dir_, 1014);  // with "/svz" and 6 more: 1024 units
  EXPECT_FALSE(TempFileName(W(deep).c_str(), u"svz", path));
  EXPECT_TRUE(fs::is_empty(deep));  // nothing made that could not be returned
}

}  // namespace
}  // namespace tx::platform::test
