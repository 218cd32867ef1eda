// Branch converters and Delta undone on plain bytes: 7-Zip filters a program and noise in
// front of Copy (the filtered bytes follow the 32-byte start header), and the converter,
// fed in pieces of any size, gives the input back.
#include <gtest/gtest.h>

#include "codec/filter_converter.h"
#include "codec_test.h"

namespace tx::test {
namespace {

using codec::Filter;
using codec::Outcome;

// Undoes `filter` on `data` fed in pieces of `feed` bytes; kDamaged when the stream does
// not complete.
Outcome Undo(codec::FilterConverter& converter, Filter filter, uint32_t distance, const std::string& data,
             size_t feed, std::string& out) {
  out.clear();
  if (Outcome o = converter.Init(filter, distance); o != Outcome::kOk) return o;
  size_t at = 0;
  do {
    const size_t n = std::min(feed, data.size() - at);
    converter.Feed(Bytes(data) + at, n);
    at += n;
    const uint8_t* piece;
    size_t size;
    do {
      if (Outcome o = converter.Next(piece, size, at == data.size()); o != Outcome::kOk) return o;
      EXPECT_LE(size, 65536u);
      out.append(reinterpret_cast<const char*>(piece), size);
    } while (size > 0);
  } while (at < data.size());
  return converter.ended() ? Outcome::kOk : Outcome::kDamaged;
}

TEST(FilterConverter, UndoesSevenZipsFiltersInPiecesOfAnySize) {
  struct Case {
    const char* method;
    Filter filter;
    uint32_t distance;
  };
  TempDir dir;
  const std::string data = ReadFile("/bin/ls") + RandomBytes(5000, 1);
  ASSERT_GT(data.size(), 70000u);
  WriteFile(dir / "data", data);
  codec::FilterConverter converter;  // one converter for every stream
  std::string out;
  for (Case c :
       {Case{"BCJ", Filter::kX86, 0}, Case{"PPC", Filter::kPowerPc, 0}, Case{"IA64", Filter::kIa64, 0},
        Case{"ARM", Filter::kArm, 0}, Case{"ARMT", Filter::kArmThumb, 0}, Case{"SPARC", Filter::kSparc, 0},
        Case{"ARM64", Filter::kArm64, 0}, Case{"Delta:1", Filter::kDelta, 1},
        Case{"Delta:4", Filter::kDelta, 4}, Case{"Delta:256", Filter::kDelta, 256}}) {
    int status = -1;
    Shell("cd " + Quote(dir.path().string()) + " && 7zz a -t7z -m0=" + c.method +
              " -m1=Copy -mhc=off -mf=off a.7z data > /dev/null 2>&1",
          &status);
    ASSERT_EQ(status, 0) << c.method;
    const std::string filtered = ReadFile(dir / "a.7z").substr(32, data.size());
    std::filesystem::remove(dir / "a.7z");
    if (c.filter == Filter::kX86 || c.filter == Filter::kDelta) {
      EXPECT_FALSE(filtered == data) << c.method;
    }
    for (size_t feed : {size_t{5}, size_t{4096}, size_t{65536}, size_t{65537}, data.size()}) {
      ASSERT_EQ(Undo(converter, c.filter, c.distance, filtered, feed, out), Outcome::kOk) << c.method;
      EXPECT_TRUE(out == data) << c.method << " " << feed;
    }
  }

  // An empty stream, and filters that do not exist.
  EXPECT_EQ(Undo(converter, Filter::kArm64, 0, "", 1, out), Outcome::kOk);
  EXPECT_TRUE(out.empty());
  for (uint32_t distance : {0u, 257u})
    EXPECT_EQ(converter.Init(Filter::kDelta, distance), Outcome::kSetupFailed) << distance;
  EXPECT_EQ(converter.Init(Filter::kNone, 0), Outcome::kSetupFailed);
  const uint8_t* piece;
  size_t size;
  EXPECT_EQ(converter.Next(piece, size, true), Outcome::kSetupFailed);
}

}  // namespace
}  // namespace tx::test
