#include "platform/dir_search.h"

#include <vector>

#include "scratch.h"

namespace tx::platform::test {
namespace {

using Names = std::vector<std::string>;

class DirSearchTest : public ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    for (const char* name :
         {"b.txt", "a.txt", "B.txt", ".hidden.txt", "c.dat", "ab.txt", "[x].txt", "\xC3\xA9.txt"}) {
      WriteText(Path(name), name);
    }
    fs::create_directory(Path("sub"));
  }

  // Names found for a pattern inside the scratch folder; empty when First fails.
  Names Find(const std::string& pattern) {
    Names names;
    for (bool ok = search_.First(WPath(pattern).c_str(), data_); ok; ok = search_.Next(data_)) {
      names.push_back(U8(data_.name.units));
    }
    return names;
  }

  DirSearch search_;
  FindData data_;
};

TEST_F(DirSearchTest, WildcardsSortedByName) {
  EXPECT_EQ(Find("*"), (Names{".hidden.txt", "B.txt", "[x].txt", "a.txt", "ab.txt", "b.txt", "c.dat", "sub",
                              "\xC3\xA9.txt"}));
  EXPECT_EQ(Find("?.txt"), (Names{"B.txt", "a.txt", "b.txt", "\xC3\xA9.txt"}));  // é is one character
  EXPECT_EQ(Find("*].t?t"), (Names{"[x].txt"}));                                 // brackets are plain
  EXPECT_EQ(Find("a*b*"), (Names{"ab.txt"}));
  EXPECT_EQ(Find("s*"), (Names{"sub"}));
  EXPECT_EQ(data_.attributes, kAttrDirectory);
  EXPECT_EQ(search_.skipped(), 0u);
  for (const char* pattern : {"*.zip", "A.txt", "missing/*", "missing", "..", "sub/", "sub/*"}) {
    EXPECT_EQ(Find(pattern), Names{}) << pattern;
  }
}

TEST_F(DirSearchTest, LiteralNamesLinksAndUnrepresentableNames) {
  fs::create_symlink(Path("a.txt"), Path("link.txt"));
  fs::create_symlink(Path("gone"), Path("dangling.txt"));
  WriteText(Path("bad\xFF.txt"), "");
  WriteText(Path("bad\xFF.dat"), "");
  EXPECT_EQ(Find("[x].txt"), (Names{"[x].txt"}));
  EXPECT_EQ(data_.attributes, kAttrArchive);
  EXPECT_EQ(data_.size, 7u);
  EXPECT_EQ(data_.last_write, Info(Path("[x].txt")).last_write);
  EXPECT_EQ(Find("link.txt"), (Names{"link.txt"}));
  EXPECT_EQ(data_.size, 5u);  // what the link points to
  EXPECT_EQ(Find("*.txt").size(), 8u);
  EXPECT_EQ(search_.skipped(), 2u);  // the dangling link and the name that is not UTF-8
  EXPECT_EQ(Find("*.dat"), (Names{"c.dat"}));
  EXPECT_EQ(search_.skipped(), 1u);
  EXPECT_EQ(Find("dangling.txt"), Names{});
  EXPECT_EQ(search_.skipped(), 1u);
}

}  // namespace
}  // namespace tx::platform::test
