// Archives written by other tools (Info-ZIP zip, 7-Zip, Python's zipfile) are extracted
// byte for byte, with their modification times.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "zip_test.h"

namespace tx::test {
namespace {

namespace fs = std::filesystem;

// A source tree with incompressible, compressible, empty and nested files, all stamped
// with one even-second time so that DOS stamps can hold it exactly.
class PeerArchives : public ::testing::Test {
 protected:
  void SetUp() override {
    src_ = dir_ / "src";
    fs::create_directories(src_ + "/sub/deeper");
    WriteFile(src_ + "/random.bin", RandomBytes(300000, 1));
    std::string text;
    for (int i = 0; text.size() < 400000; ++i)
      text += "line " + std::to_string(i) + " of a compressible text\n";
    WriteFile(src_ + "/text.txt", text);
    WriteFile(src_ + "/empty", "");
    WriteFile(src_ + "/sub/deeper/small.txt", "small");
    Shell("touch -d '2021-03-04 05:06:08' " + src_ + "/random.bin " + src_ + "/text.txt " + src_ + "/empty " +
          src_ + "/sub/deeper/small.txt");
  }

  // Extracts with zip_unpack2 and compares every file and its time with the source.
  void ExpectExtracted(const std::string& archive, const char* password = nullptr,
                       std::vector<std::string> names = {"random.bin", "text.txt", "empty",
                                                         "sub/deeper/small.txt"}) {
    std::string out = dir_ / ("out" + std::to_string(++runs_));
    fs::create_directory(out);
    ASSERT_EQ(Unpack2(archive, out, password), 0u) << archive;
    for (const std::string& name : names) {
      ASSERT_TRUE(fs::exists(out + "/" + name)) << name;
      EXPECT_EQ(ReadFile(out + "/" + name), ReadFile(src_ + "/" + name)) << name;
      struct stat a, b;
      ::stat((out + "/" + name).c_str(), &a);
      ::stat((src_ + "/" + name).c_str(), &b);
      EXPECT_EQ(a.st_mtime, b.st_mtime) << name;
    }
  }

  std::string Run(const std::string& command) {
    int status = -1;
    std::string output = Shell("cd " + src_ + " && " + command + " 2>&1", &status);
    EXPECT_EQ(status, 0) << command << "\n" << output;
    return output;
  }

  TempDir dir_;
  std::string src_;
  int runs_ = 0;
};

TEST_F(PeerArchives, InfoZipMethodsEncryptionDescriptorsAndTimestamps) {
  for (const char* options : {"-0", "-6", "-9", "-Z bzip2"}) {
    std::string archive = dir_ / std::string("z").append(std::to_string(runs_)).append(".zip");
    Run(std::string("zip -q -r ") + options + " " + archive + " .");
    ExpectExtracted(archive);
  }
  std::string encrypted = dir_ / "e.zip";
  Run("zip -q -r -e -P 'pass word' " + encrypted + " .");
  ExpectExtracted(encrypted, "pass word");
  std::string wrong = dir_ / "wrong";
  fs::create_directory(wrong);
  EXPECT_EQ(Unpack2(encrypted, wrong, "other"), 0x00411902u);
  EXPECT_TRUE(fs::is_empty(wrong));

  // Written to a pipe, zip cannot seek back and ends each member with a data descriptor.
  std::string streamed = dir_ / "s.zip";
  Run("zip -q - random.bin text.txt | cat > " + streamed);
  ASSERT_NE(ReadFile(streamed).find(std::string("PK\x07\x08", 4)), std::string::npos);
  ExpectExtracted(streamed, nullptr, {"random.bin", "text.txt"});
  std::string streamed_encrypted = dir_ / "se.zip";
  Run("zip -q -P secret - random.bin text.txt | cat > " + streamed_encrypted);
  ExpectExtracted(streamed_encrypted, "secret", {"random.bin", "text.txt"});
}

TEST_F(PeerArchives, SevenZipMethodsAndCiphers) {
  for (const char* options : {"-mm=Deflate", "-mm=BZip2", "-mem=AES128 -pSecret7", "-mem=AES256 -pSecret7",
                              "-mem=ZipCrypto -pSecret7", "-mm=BZip2 -mem=AES256 -pSecret7"}) {
    std::string archive = dir_ / ("7z" + std::to_string(runs_) + ".zip");
    Run(std::string("7zz a -tzip -bd ") + options + " " + archive + " .");
    ExpectExtracted(archive, std::string(options).find("-p") != std::string::npos ? "Secret7" : nullptr);
  }
  std::string wrong = dir_ / "wrong";
  fs::create_directory(wrong);
  EXPECT_EQ(Unpack2(dir_ / "7z3.zip", wrong, "other"), 0x00411901u);
  EXPECT_TRUE(fs::is_empty(wrong));
}

TEST_F(PeerArchives, SevenZipUtf8NamesAndPythonZip64) {
  std::string name = "Grüße – ファイル.txt";
  WriteFile(src_ + "/" + name, "unicode content");
  Shell("touch -d '2021-03-04 05:06:08' '" + src_ + "/" + name + "'");
  std::string archive = dir_ / "utf8.zip";
  Run("7zz a -tzip -bd -mcu=on " + archive + " '" + name + "'");
  ExpectExtracted(archive, nullptr, {name});

  std::string zip64 = dir_ / "zip64.zip";
  std::string script =
      "import zipfile, sys\n"
      "with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:\n"
      "  for n in ['random.bin', 'text.txt', 'sub/deeper/small.txt']:\n"
      "    info = zipfile.ZipInfo(n, (2021, 3, 4, 5, 6, 8))\n"
      "    info.compress_type = zipfile.ZIP_DEFLATED\n"
      "    with z.open(info, 'w', force_zip64=True) as f: f.write(open(n, 'rb').read())\n";
  WriteFile(dir_ / "make64.py", script);
  Run("/usr/bin/python3 " + (dir_ / "make64.py") + " " + zip64);
  ExpectExtracted(zip64, nullptr, {"random.bin", "text.txt", "sub/deeper/small.txt"});
}

}  // namespace
}  // namespace tx::test
