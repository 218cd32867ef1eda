// The x86 branch converter against 7-Zip's own (BCJ then Copy leaves the converted bytes
// right after the 32-byte start header), on real programs and libraries and on made-up
// data; decoding restores the input.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>

#include "codec/bcj_x86.h"
#include "codec_test.h"

namespace tx::test {
namespace {

// Converts `data` as a stream arriving in pieces of `piece` bytes; the bytes a call leaves
// are presented again with the next piece, and passed on as they are at the end.
std::string Convert(const std::string& data, bool encoding, size_t piece) {
  codec::X86Converter converter(encoding);
  std::string out, pending;
  for (size_t at = 0; at < data.size(); at += piece) {
    pending.append(data, at, piece);
    size_t done = converter.Convert(reinterpret_cast<uint8_t*>(pending.data()), pending.size());
    EXPECT_LE(pending.size() - done, 4u);
    out.append(pending, 0, done);
    pending.erase(0, done);
  }
  return out + pending;
}

// Made-up code: opcodes everywhere, near and far targets, runs of E8/E9 and both at the
// very end.
std::string Synthetic(size_t size, unsigned seed) {
  std::string s = RandomBytes(size, seed);
  std::mt19937 gen(seed);
  for (size_t i = 0; i + 5 < size; i += 1 + gen() % 12) {
    s[i] = static_cast<char>(0xE8 | (gen() & 1));
    if (gen() % 3 != 0) s[i + 4] = gen() % 2 ? '\0' : '\xFF';
    if (gen() % 5 == 0) s[i + 1 + gen() % 3] = static_cast<char>(0xE8 | (gen() & 1));
  }
  s.append("\xE8\x01\x02\x03\xE9\xE8\xE9\xE8", 8);
  return s;
}

class X86Peer : public ::testing::Test {
 protected:
  // 7-Zip's conversion of `files` (one solid stream, in the order 7-Zip lists them),
  // with that order in `listed`.
  std::string SevenZip(const std::vector<std::string>& files, std::vector<std::string>& listed) {
    std::string name = "a";
    name.append(std::to_string(++runs_)).append(".7z");
    std::string archive = dir_ / name;
    std::string command = "cd " + Quote(dir_.path().string()) +
                          " && 7zz a -t7z -m0=BCJ -m1=Copy -mhc=off -mf=off -ms=on " + Quote(archive);
    for (const std::string& f : files) command.append(" ").append(Quote(f));
    int status = -1;
    Shell(command + " > /dev/null 2>&1", &status);
    EXPECT_EQ(status, 0);
    std::istringstream listing(Shell("7zz l -slt " + Quote(archive)));
    size_t total = 0;
    for (std::string line; std::getline(listing, line);) {
      if (line.rfind("Path = ", 0) == 0 && line.substr(7) != archive) {
        listed.push_back(line.substr(7));
        total += std::filesystem::file_size(dir_ / listed.back());
      }
    }
    return ReadFile(archive).substr(32, total);
  }

  TempDir dir_;
  int runs_ = 0;
};

TEST_F(X86Peer, ProgramsAndLibrariesConvertAsSevenZipDoes) {
  for (const char* path : {"/usr/bin/cmake", "/usr/bin/7zz", "/usr/lib/x86_64-linux-gnu/libcrypto.so.3",
                           "/usr/lib/x86_64-linux-gnu/libz.so.1"}) {
    ASSERT_TRUE(std::filesystem::exists(path)) << path;
    const std::string original = ReadFile(path);
    WriteFile(dir_ / "program", original);
    std::vector<std::string> listed;
    const std::string expected = SevenZip({"program"}, listed);
    const std::string converted = Convert(original, true, 65536);
    EXPECT_FALSE(converted == original) << path;
    EXPECT_TRUE(converted == expected) << path;
    EXPECT_TRUE(Convert(converted, false, 65536) == original) << path;
    std::filesystem::remove(dir_ / "program");
  }
}

TEST_F(X86Peer, MadeUpCodeInOneSolidStreamAndInAnyPieces) {
  std::vector<std::string> names = {"b.bin", "a.bin", "c.bin"};
  std::map<std::string, std::string> contents;
  for (size_t i = 0; i < names.size(); ++i) {
    contents[names[i]] = Synthetic(100000 + 3 * i, static_cast<unsigned>(i));
    WriteFile(dir_ / names[i], contents[names[i]]);
  }
  std::vector<std::string> listed;
  const std::string expected = SevenZip(names, listed);
  ASSERT_EQ(listed.size(), names.size());
  std::string stream;
  for (const std::string& name : listed) stream += contents[name];
  for (size_t piece : {size_t{1}, size_t{5}, size_t{7}, size_t{4096}, stream.size()}) {
    const std::string converted = Convert(stream, true, piece);
    EXPECT_TRUE(converted == expected) << piece;
    EXPECT_TRUE(Convert(converted, false, piece) == stream) << piece;
  }
  // A reset converter starts a new stream.
  codec::X86Converter converter(true);
  std::string first = stream, second = stream;
  size_t done = converter.Convert(reinterpret_cast<uint8_t*>(first.data()), first.size());
  converter.Reset();
  EXPECT_EQ(converter.Convert(reinterpret_cast<uint8_t*>(second.data()), second.size()), done);
  EXPECT_TRUE(first == second);
  uint8_t short_piece[4] = {0xE8, 0, 0, 0};
  EXPECT_EQ(converter.Convert(short_piece, sizeof short_piece), 0u);
}

}  // namespace
}  // namespace tx::test
