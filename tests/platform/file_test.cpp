#include "platform/file.h"

#include <sys/stat.h>

#include "scratch.h"

namespace tx::platform::test {
namespace {

using FileTest = ScratchTest;

TEST_F(FileTest, OpenReadSeekTruncate) {
  File file;
  EXPECT_FALSE(file.Open(W(dir_).c_str(), Access::Read, Disposition::OpenExisting));  // a directory
  EXPECT_FALSE(file.Open(WPath("missing").c_str(), Access::Read, Disposition::OpenExisting));
  ASSERT_EQ(::mkfifo(Path("fifo").c_str(), 0600), 0);
  EXPECT_FALSE(file.Open(WPath("fifo").c_str(), Access::Read, Disposition::OpenExisting)) << "no wait for a writer";
  ASSERT_TRUE(file.Open(WPath("f").c_str(), Access::ReadWrite, Disposition::CreateNew));
  ASSERT_TRUE(file.Write("0123456789", 10));
  uint64_t size = 0, position = 0;
  ASSERT_TRUE(file.Size(size));
  EXPECT_EQ(size, 10u);
  char buffer[8] = {};
  ASSERT_TRUE(file.Seek(-6, SeekFrom::End));
  ASSERT_TRUE(file.Read(buffer, 6));
  EXPECT_EQ(std::string(buffer, 6), "456789");
  ASSERT_TRUE(file.Seek(-2, SeekFrom::Current, &position));
  EXPECT_EQ(position, 8u);
  EXPECT_FALSE(file.Read(buffer, 4));  // short read
  size_t got = 0;
  ASSERT_TRUE(file.Seek(8, SeekFrom::Begin));
  ASSERT_TRUE(file.ReadPartial(buffer, 4, got));
  EXPECT_EQ(std::string(buffer, got), "89");
  EXPECT_FALSE(file.Seek(-1, SeekFrom::Begin));
  ASSERT_TRUE(file.Seek(3, SeekFrom::Begin));
  ASSERT_TRUE(file.Truncate());
  ASSERT_TRUE(file.Close());
  EXPECT_EQ(ReadText(Path("f")), "012");
  EXPECT_FALSE(file.Open(WPath("f").c_str(), Access::Write, Disposition::CreateNew));
}

TEST_F(FileTest, WriteTimeRoundTripsAt100ns) {
  const FileTime stamp = 133643088001234567;  // 2024-07-01 12:00:00.1234567 UTC
  File file;
  ASSERT_TRUE(file.Open(WPath("t").c_str(), Access::Write, Disposition::CreateAlways));
  ASSERT_TRUE(file.SetWriteTime(stamp));
  ASSERT_TRUE(file.SetWriteTime(0));  // keeps the time
  FileTimes times;
  ASSERT_TRUE(file.GetTimes(times));
  EXPECT_EQ(times.last_write, stamp);
  EXPECT_EQ(Info(Path("t")).last_write, stamp);
}

}  // namespace
}  // namespace tx::platform::test

namespace tx::platform::test {
namespace {

TEST_F(FileTest, OpenFilesAreSharedAsOnWindows) {
  File reader, second_reader, writer;
  ASSERT_TRUE(writer.Open(WPath("s").c_str(), Access::Write, Disposition::CreateAlways));
  ASSERT_TRUE(writer.Write("keep", 4));
  EXPECT_FALSE(reader.Open(WPath("s").c_str(), Access::Read, Disposition::OpenExisting)) << "a writer shares with no one";
  ASSERT_TRUE(writer.Close());
  ASSERT_TRUE(reader.Open(WPath("s").c_str(), Access::Read, Disposition::OpenExisting));
  EXPECT_TRUE(second_reader.Open(WPath("s").c_str(), Access::Read, Disposition::OpenExisting));
  EXPECT_FALSE(writer.Open(WPath("s").c_str(), Access::Write, Disposition::CreateAlways));
  EXPECT_FALSE(DeleteFile(WPath("s").c_str()));
  EXPECT_EQ(ReadText(Path("s")), "keep") << "a refused create must not truncate";
  reader.Close();
  second_reader.Close();
  EXPECT_TRUE(SameFile(WPath("s").c_str(), WPath("s").c_str()));
  EXPECT_TRUE(DeleteFile(WPath("s").c_str()));
}

}  // namespace
}  // namespace tx::platform::test
