// Permissions of entries from archives made on Unix (7zz, Info-ZIP zip): rwx bits kept,
// the umask applied, setuid/setgid/sticky dropped, links extracted as files holding their
// text. Archives of our own, which carry Windows attributes only, behave as before.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "tessarex.h"
#include "test_support.h"

namespace tx::test {
namespace {

namespace fs = std::filesystem;

// Sets the process umask for one test and puts the old one back.
class Umask {
 public:
  explicit Umask(mode_t mask) : old_(::umask(mask)) {}
  ~Umask() { ::umask(old_); }
  Umask(const Umask&) = delete;
  Umask& operator=(const Umask&) = delete;

 private:
  mode_t old_;
};

// The permission bits (setuid, setgid, sticky included) of a path, not following a link;
// -1 when it is not a regular file.
int FileMode(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  return static_cast<int>(st.st_mode & 07777);
}

class UnixModes : public ::testing::Test {
 protected:
  void SetUp() override {
    src_ = dir_ / "src";
    fs::create_directories(src_ + "/sub");
    Make("run.sh", "#!/bin/sh\necho run\n", 0755);
    Make("secret.txt", "private", 0600);
    Make("sub/suid", "set-user-id", 04755);
    Make("plain.txt", "plain text", 0644);
    fs::create_symlink("plain.txt", src_ + "/link");
  }

  void Make(const std::string& name, const std::string& content, mode_t mode) {
    WriteFile(src_ + "/" + name, content);
    ASSERT_EQ(::chmod((src_ + "/" + name).c_str(), mode), 0);
  }

  std::string Pack7z(const std::string& switches, const std::string& what) {
    std::string archive = dir_ / ("peer" + std::to_string(++runs_) + ".7z");
    int status = 0;
    Shell("cd " + Quote(src_) + " && 7zz a -t7z -bd -mmt=1 -m0=LZMA " + switches + " " + Quote(archive) +
              " " + what + " > /dev/null 2>&1",
          &status);
    EXPECT_EQ(status, 0) << switches;
    return archive;
  }
  std::string Zip(const std::string& switches, const std::string& what) {
    std::string archive = dir_ / ("peer" + std::to_string(++runs_) + ".zip");
    int status = 0;
    Shell("cd " + Quote(src_) + " && zip -q -X " + switches + " " + Quote(archive) + " " + what +
              " > /dev/null 2>&1",
          &status);
    EXPECT_EQ(status, 0) << switches;
    return archive;
  }
  std::string Out() {
    std::string out = dir_ / ("out" + std::to_string(++runs_));
    fs::create_directories(out);
    return out;
  }

  // The whole tree as extracted under umask `mask`.
  void ExpectTree(const std::string& out, mode_t mask, const std::string& what) {
    EXPECT_EQ(FileMode(out + "/run.sh"), static_cast<int>(0755 & ~mask)) << what;
    EXPECT_EQ(FileMode(out + "/secret.txt"), static_cast<int>(0600 & ~mask)) << what;
    EXPECT_EQ(FileMode(out + "/sub/suid"), static_cast<int>(0755 & ~mask)) << what;
    EXPECT_EQ(FileMode(out + "/plain.txt"), static_cast<int>(0644 & ~mask)) << what;
    EXPECT_EQ(FileMode(out + "/link"), static_cast<int>(0666 & ~mask)) << what;
    EXPECT_EQ(ReadFile(out + "/link"), "plain.txt") << what;
    EXPECT_EQ(ReadFile(out + "/run.sh"), "#!/bin/sh\necho run\n") << what;
  }

  static uint32_t Svz(int variant, const std::string& archive, const std::string& out) {
    uint32_t options[2] = {0, 0};
    if (variant == 1) return svz_unpack1(nullptr, archive.c_str(), out.c_str(), nullptr, options);
    if (variant == 2) return svz_unpack2(nullptr, archive.c_str(), out.c_str(), nullptr, nullptr, options);
    return svz_unpack3(nullptr, archive.c_str(), out.c_str(), nullptr, nullptr, options);
  }
  static uint32_t ZipUnpack(int variant, const std::string& archive, const std::string& out) {
    uint32_t options[2] = {0, 0};
    if (variant == 1) return zip_unpack1(nullptr, archive.c_str(), out.c_str(), nullptr, options);
    return zip_unpack2(nullptr, archive.c_str(), out.c_str(), nullptr, nullptr, options);
  }

  TempDir dir_;
  std::string src_;
  int runs_ = 0;
};

TEST_F(UnixModes, SevenZipTreesKeepTheirPermissionBits) {
  ASSERT_EQ(FileMode(src_ + "/sub/suid"), 04755);
  for (mode_t mask : {mode_t{022}, mode_t{077}}) {
    Umask umask(mask);
    std::string solid = Pack7z("-snl", "run.sh secret.txt sub plain.txt link");
    std::string out = Out();
    ASSERT_EQ(Svz(3, solid, out), 0u);
    ExpectTree(out, mask, "7z solid");
    std::string per_file = Pack7z("-snl -ms=off", "run.sh secret.txt sub plain.txt link");
    out = Out();
    ASSERT_EQ(Svz(2, per_file, out), 0u);
    ExpectTree(out, mask, "7z one folder per file");
  }
}

TEST_F(UnixModes, ZipTreesKeepTheirPermissionBits) {
  for (mode_t mask : {mode_t{022}, mode_t{077}}) {
    Umask umask(mask);
    std::string out = Out();
    ASSERT_EQ(ZipUnpack(2, Zip("-r -y", "run.sh secret.txt sub plain.txt link"), out), 0u);
    ExpectTree(out, mask, "zip");
  }
}

// The one-entry exports, and a file that is read-only by its mode alone.
TEST_F(UnixModes, SingleEntriesKeepTheirPermissionBits) {
  Umask umask(022);
  Make("readonly.txt", "read only", 0444);
  Make("setgid", "set-group-id and sticky", 03775);
  for (const char* name : {"run.sh", "secret.txt", "readonly.txt", "setgid"}) {
    const int wanted = FileMode(src_ + "/" + name) & 0777 & ~022;
    std::string out = Out();
    ASSERT_EQ(Svz(1, Pack7z("", name), out), 0u) << name;
    EXPECT_EQ(FileMode(out + "/" + name), wanted) << name;
    out = Out();
    ASSERT_EQ(ZipUnpack(1, Zip("-j", name), out), 0u) << name;
    EXPECT_EQ(FileMode(out + "/" + name), wanted) << name;
  }
  // A link stored as a link, alone in its archive, is still a file holding its text.
  std::string out = Out();
  ASSERT_EQ(ZipUnpack(1, Zip("-y", "link"), out), 0u);
  EXPECT_EQ(FileMode(out + "/link"), 0644);
  EXPECT_EQ(ReadFile(out + "/link"), "plain.txt");
  out = Out();
  ASSERT_EQ(Svz(1, Pack7z("-snl", "link"), out), 0u);
  EXPECT_EQ(FileMode(out + "/link"), 0644);
  EXPECT_EQ(ReadFile(out + "/link"), "plain.txt");
}

// Our archives hold Windows attributes: no execute bit comes back, read-only still does.
TEST_F(UnixModes, OwnArchivesKeepTheWindowsAttributeHandling) {
  Umask umask(022);
  fs::remove(src_ + "/link");
  fs::remove_all(src_ + "/sub");
  Make("readonly.txt", "read only", 0444);
  std::string seven = dir_ / "own.7z", zip = dir_ / "own.zip";
  uint32_t svz_options[16] = {0, 0, 1, 5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  ASSERT_EQ(svz_pack3(nullptr, seven.c_str(), (src_ + "/*").c_str(), nullptr, svz_options), 0u);
  uint32_t zip_options[15] = {0, 0, 8, 6, 0, 0, 32, 16, 16, 1, 0, 2, 0, 0, 0};
  ASSERT_EQ(zip_pack2(nullptr, zip.c_str(), (src_ + "/*").c_str(), nullptr, zip_options), 0u);
  std::string out7 = Out(), outz = Out();
  ASSERT_EQ(Svz(3, seven, out7), 0u);
  ASSERT_EQ(ZipUnpack(2, zip, outz), 0u);
  for (const std::string& out : {out7, outz}) {
    EXPECT_EQ(FileMode(out + "/run.sh"), 0644) << out;
    EXPECT_EQ(FileMode(out + "/secret.txt"), 0644) << out;
    EXPECT_EQ(FileMode(out + "/readonly.txt"), 0444) << out;
  }
}

}  // namespace
}  // namespace tx::test
