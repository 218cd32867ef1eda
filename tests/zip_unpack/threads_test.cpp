// Small files written on a second thread: what ends up on disk, with times and modes, and
// the status are those of one thread, for a whole tree and for failures in its middle.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <functional>

#include "zip_test.h"

namespace tx::test {
namespace {

namespace fs = std::filesystem;

class UnpackThreads : public ZipScratch {
 protected:
  ~UnpackThreads() override { ::unsetenv("TESSAREX_THREADS"); }

  struct Result {
    uint32_t code = 0;
    std::map<std::string, std::string> files;  // name -> content, mode and time
    bool operator==(const Result&) const = default;
  };

  Result Run(const char* threads, const std::string& archive,
             const std::function<void(const std::string&)>& prepare = {}) {
    ::setenv("TESSAREX_THREADS", threads, 1);
    const std::string out = Out();
    if (prepare) prepare(out);
    Result result;
    result.code = Unpack2(archive, out);
    for (auto& e : fs::recursive_directory_iterator(out)) {
      struct stat st;
      EXPECT_EQ(::lstat(e.path().c_str(), &st), 0);
      // A folder's time is when its last file was named.
      std::string what = std::to_string(st.st_mode & 07777);
      if (e.is_regular_file()) what += " " + std::to_string(st.st_mtime) + " " + ReadFile(e.path());
      result.files[fs::relative(e.path(), out).string()] = what;
    }
    return result;
  }

  static bool HasTemporaries(const Result& result) {
    for (const auto& [name, what] : result.files)
      if (name.find(".tessarex-") != std::string::npos) return true;
    return false;
  }

  // Folders, small files stored and deflated, an empty one, two beyond the writer's slots,
  // a Unix mode, and a name given twice.
  static std::vector<Member> Members() {
    std::vector<Member> members;
    members.push_back({.name = "d1/", .attributes = 0x10});
    for (int i = 0; i < 60; ++i) {
      Member m{.name = "d" + std::to_string(1 + i % 3) + "/f" + std::to_string(i)};
      m.data = i == 7 ? "" : i == 21 || i == 40 ? RandomBytes(300000, i) : RandomBytes(100 * i + 1, i);
      m.method = i % 2 == 0 ? 8 : 0;
      m.dos_time = static_cast<uint16_t>(0x6000 + i * 32);
      if (i == 9) m.host = 3, m.attributes = 0100750u << 16;
      members.push_back(m);
    }
    members.push_back({.name = "d3/f5", .data = "the second d3/f5 wins"});
    return members;
  }
};

TEST_F(UnpackThreads, TheTreeIsTheSameOnOneAndTwoThreads) {
  const std::string archive = Archive(Members());
  const Result one = Run("1", archive), two = Run("2", archive);
  EXPECT_EQ(one.code, 0u);
  EXPECT_TRUE(one == two);
  EXPECT_EQ(one.files.size(), 63u);  // three folders, 60 names
  EXPECT_NE(one.files.at("d3/f5").find("the second d3/f5 wins"), std::string::npos);
  EXPECT_EQ(one.files.at("d1/f9").substr(0, 4), std::to_string(0750) + " ");
}

TEST_F(UnpackThreads, AFailureLeavesWhatOneThreadLeaves) {
  // A folder where member 20's file goes fails on the writer's thread; a wrong CRC on
  // member 30 fails on the decoding one while earlier files wait to be named; member 21 is
  // too large for the writer and must not be named after member 20 failed.
  std::vector<Member> members = Members();
  const auto blocked = [](const std::string& out) { fs::create_directories(fs::path(out) / "d3/f20"); };
  std::vector<Member> bad_crc = members;
  bad_crc[31].crc = 0x12345678;
  const std::string plain = Archive(members), damaged = Archive(bad_crc);
  struct Case {
    std::string archive;
    std::function<void(const std::string&)> prepare;
    uint32_t code;
    const char *present, *absent;
  };
  const Case cases[] = {{plain, blocked, 0x01021901u, "d2/f19", "d1/f21"},
                        {damaged, {}, 0x00611901u, "d3/f29", "d2/f31"},
                        {damaged, blocked, 0x01021901u, "d2/f19", "d2/f40"}};
  for (const Case& c : cases) {
    const Result one = Run("1", c.archive, c.prepare), two = Run("2", c.archive, c.prepare);
    EXPECT_EQ(one.code, c.code);
    EXPECT_TRUE(one == two) << c.absent;
    EXPECT_FALSE(HasTemporaries(two));
    EXPECT_EQ(two.files.count(c.present), 1u) << c.present;
    EXPECT_EQ(two.files.count(c.absent), 0u) << c.absent;
  }
}

}  // namespace
}  // namespace tx::test
