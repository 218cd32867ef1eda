// What the command takes in and shows: passwords kept off the command line, questions
// that cannot be asked, and names that try to pass for listing lines or terminal codes.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "test_support.h"

namespace {

using tx::test::Shell;
using tx::test::TempDir;
using tx::test::ReadFile;
using tx::test::WriteFile;

const std::string kCli = TX_CLI_PATH;

// The folder's path opened for quoting: "'/tmp/...../", to be closed by the caller.
std::string Quoted(const TempDir& dir) {
  std::string d = "'";
  d += dir.path().string();
  d += '/';
  return d;
}

TEST(CliInput, PasswordFromAFileOrADescriptorIsItsFirstLine) {
  TempDir dir;
  const std::string d = Quoted(dir);
  const std::string content = tx::test::RandomBytes(3000, 4);
  WriteFile(dir / "f.bin", content);
  WriteFile(dir / "crlf", "s3cret word\r\nnot this");
  WriteFile(dir / "bare", "s3cret word");
  std::filesystem::create_directories(dir / "out");
  int status;
  auto run = [&](const std::string& args) { return Shell(kCli + " " + args + " 2>&1", &status); };

  std::string out = run("pea pack1 " + d + "a.pea' " + d + "f.bin' --password-file " + d + "crlf'");
  ASSERT_EQ(status, 0) << out;
  out = run("pea unpack " + d + "a.pea' --to " + d + "out' --password-fd 3 3<" + d + "bare'");
  ASSERT_EQ(status, 0) << out;
  EXPECT_TRUE(ReadFile(dir / "out/f.bin") == content);
  // A pipe on standard input: only its first line; the same password as on the command line.
  out = Shell("printf 's3cret word\\nrest' | " + kCli + " zip pack1 " + d + "a.zip' " + d +
                  "f.bin' --password-fd 0 2>&1",
              &status);
  ASSERT_EQ(status, 0) << out;
  run("zip unpack " + d + "a.zip' --to " + d + "out' --password 's3cret word'");
  EXPECT_EQ(status, 0);
  run("zip unpack " + d + "a.zip' --to " + d + "out' --password-file " + d + "f.bin'");
  EXPECT_EQ(status, 1) << "a wrong password";

  // One source only; a file that cannot be read is a usage error.
  run("zip list " + d + "a.zip' --password x --password-file " + d + "crlf'");
  EXPECT_EQ(status, 2);
  run("pea list " + d + "a.pea' --password-file " + d + "missing'");
  EXPECT_EQ(status, 2);
}

TEST(CliInput, AnOverwriteQuestionWithoutATerminalIsACancel) {
  TempDir dir;
  const std::string d = Quoted(dir);
  WriteFile(dir / "f.txt", "new content");
  int status;
  auto run = [&](const std::string& args) {
    return Shell("setsid " + kCli + " " + args + " 2>&1 </dev/null", &status);
  };
  run("pea pack1 " + d + "a.pea' " + d + "f.txt'");
  ASSERT_EQ(status, 0);
  run("zip pack1 " + d + "a.zip' " + d + "f.txt'");
  ASSERT_EQ(status, 0);
  std::filesystem::create_directories(dir / "out");
  for (const char* command : {"pea unpack", "pea unpack1", "zip unpack", "zip unpack1"}) {
    WriteFile(dir / "out/f.txt", "old");
    const char* archive = command[0] == 'p' ? "a.pea'" : "a.zip'";
    std::string out =
        run(std::string("--ask-overwrite ") + command + " " + d + archive + " --to " + d + "out'");
    EXPECT_EQ(status, 1) << command << ": " << out;
    EXPECT_NE(out.find(": 0x0090"), std::string::npos) << command << ": " << out;
    EXPECT_EQ(ReadFile(dir / "out/f.txt"), "old") << command;
  }
}

TEST(CliInput, ListingsShowControlCharactersInNamesEscaped) {
  TempDir dir;
  const std::string d = Quoted(dir);
  std::filesystem::create_directories(dir / "src");
  WriteFile(dir / "src/x\x1b[2J\r\n2021-01-01 00:00:00    A Normal  1  1 fake\x7f\xc2\x9b.txt", "abc");
  int status;
  for (const char* format : {"pea", "zip"}) {
    std::string archive = d + "a." + format + "'";
    std::string out = Shell(kCli + " " + format + " pack " + archive + " " + d + "src' 2>&1", &status);
    ASSERT_EQ(status, 0) << out;
    out = Shell(kCli + " " + format + " list " + archive, &status);
    ASSERT_EQ(status, 0) << out;
    EXPECT_NE(out.find("x\\x1B[2J\\x0D\\x0A2021-01-01 00:00:00    A Normal  1  1 fake\\x7F\\x9B.txt\r\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(out.find('\x1b'), std::string::npos);
    EXPECT_EQ(out.find("\xc2\x9b"), std::string::npos);
  }
}

}  // namespace
