// Unpacking: damaged entries, prompts, filters, and hostile archives.
#include <cstring>

#include "pea/pea_test.h"

namespace tx::test {
namespace {

TEST(PeaUnpack2, DamagedMiddleBlockCostsOnlyItsFileWhenTheUserGoesOn) {
  TempDir dir;
  fs::create_directories(dir / "src");
  std::string middle;
  for (int i = 0; middle.size() < 2600000; ++i) middle += "row " + std::to_string(i) + "\n";
  WriteFile(dir / "src/f1", "first");
  WriteFile(dir / "src/f2", middle);
  WriteFile(dir / "src/f3", "third");
  std::string archive = dir / "a.pea", out = dir / "out";
  ASSERT_EQ(Pack(archive, dir / "src/*", PackOptions(2, 2, 2, 2)), 0u);
  std::string bytes = ReadFile(archive);
  auto u32 = [&](size_t at) {
    uint32_t v;
    std::memcpy(&v, bytes.data() + at, 4);
    return v;
  };
  // Header and block size; f1: record, one block, final length, tag; f2: record, first block.
  size_t at = 24 + 20;
  at += 4 + u32(at) + 4 + 4 + 20;
  at += 4 + u32(at);
  bytes[at + 4 + u32(at) / 2] ^= 0x55;
  WriteFile(archive, bytes);

  fs::create_directory(out);
  EXPECT_EQ(Unpack(archive, out), 0x00611401u);
  EXPECT_TRUE(fs::is_empty(out));
  // The notices: the volume tag, the second file, then the stream tag over every byte.
  const uint32_t go_on[2] = {0, 8};
  for (int last : {ui::kCancel, ui::kOk}) {
    fs::remove_all(out);
    fs::create_directory(out);
    ScriptedUi script;
    for (int answer : {ui::kOk, ui::kOk, last}) script.dialogs.AnswerNotice(answer);
    EXPECT_EQ(Unpack(archive, out, go_on), last == ui::kOk ? 0u : 0x00611231u);
    const auto& notices = script.dialogs.record().notices;
    ASSERT_EQ(notices.size(), 3u);
    EXPECT_EQ(notices[0].path, archive);
    EXPECT_EQ(notices[1].path, out + "/f2");
    EXPECT_EQ(notices[2].path, archive);
    EXPECT_EQ(Tree(out), (Files{{"f1", "first"}, {"f3", "third"}}));
  }
}

TEST(PeaUnpack2, OverwritePromptAnswersAndFilter) {
  TempDir dir;
  fs::create_directories(dir / "src/sub");
  WriteFile(dir / "src/a.txt", "A");
  WriteFile(dir / "src/b.bin", "B");
  WriteFile(dir / "src/sub/c.txt", "C");
  SetTime(dir / "src/a.txt", kSummer);
  std::string archive = dir / "a.pea", out = dir / "out";
  fs::create_directory(out);
  ASSERT_EQ(Pack(archive, dir / "src/*", PackOptions(0, 2, 2, 2)), 0u);
  const uint32_t ask[2] = {0, 2};
  auto spoil = [&] {
    for (const char* name : {"a.txt", "b.bin", "sub/c.txt"})
      WriteFile(dir / ("out/" + std::string(name)), "old");
  };
  ASSERT_EQ(Unpack(archive, out), 0u);
  const Files original = Tree(dir / "src");
  spoil();
  {
    ScriptedUi script;  // spare answers would be taken by further prompts
    for (int answer : {ui::kOverwriteAll, ui::kSkip, ui::kSkip}) script.dialogs.AnswerOverwrite(answer);
    EXPECT_EQ(Unpack(archive, out, ask), 0u);
    const auto& questions = script.dialogs.record().overwrite_questions;
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_EQ(questions[0].path, out + "/a.txt");
    EXPECT_EQ(questions[0].incoming_time, "2021-07-15 13:45:31");
    EXPECT_EQ(Tree(out), original);
  }
  spoil();
  {
    ScriptedUi script;  // the next call asks again, never for a folder
    for (int answer : {ui::kSkip, ui::kOverwrite, ui::kSkip, ui::kSkip})
      script.dialogs.AnswerOverwrite(answer);
    EXPECT_EQ(Unpack(archive, out, ask), 0u);
    EXPECT_EQ(script.dialogs.record().overwrite_questions.size(), 3u);
    EXPECT_EQ(Tree(out), (Files{{"a.txt", "old"}, {"b.bin", "B"}, {"sub", "<dir>"}, {"sub/c.txt", "old"}}));
  }
  fs::remove_all(out);
  fs::create_directory(out);
  EXPECT_EQ(Unpack(archive, out, kNoFlags, "", nullptr, "*.TXT"), 0u);
  EXPECT_EQ(Tree(out), (Files{{"a.txt", "A"}, {"sub", "<dir>"}, {"sub/c.txt", "C"}}));
}

// A name of `bytes` bytes but few UTF-16 units, in folders the file system takes: three-byte
// characters, at most 240 bytes a component.
std::string LongName(size_t bytes) {
  std::string name, euro = "\xE2\x82\xAC", folder;
  for (int i = 0; i < 80; ++i) folder += euro;
  while (bytes - name.size() > 250) name += folder + "\\";
  while (bytes - name.size() >= 5) name += euro;
  return name + std::string(bytes - name.size(), 'a');
}

struct Hostile {
  const char* what;
  std::string bytes;
  uint32_t code;
  Files files;  // what the output folder holds afterwards, folders left out
};

// Each archive is extracted into root/deep/out: nothing may appear beside it, at any depth.
TEST(PeaHostile, NamesAndLengthsGiveTheirCodesAndNothingLandsOutside) {
  const std::string x = "payload", long_ok = LongName(2047);
  std::string long_path = long_ok;
  for (char& c : long_path) c = c == '\\' ? '/' : c;
  const Hostile cases[] = {
      {"parent ..\\", Crafted().File("..\\evil", x).End(), 0x00103103, {}},
      {"parent ../", Crafted().File("../evil", x).End(), 0x00103102, {}},
      {"leading /", Crafted().File("/evil.txt", x).End(), 0x00103105, {}},
      {"doubled /", Crafted().File("x//evil.txt", x).End(), 0x00103104, {}},
      {"parent inside", Crafted().File("a\\..\\..\\evil", x).End(), 0x00103103, {}},
      {"parent folder", Crafted().Record("..\\", 0).End(), 0x00103103, {}},
      {"refused character", Crafted().File("a*b", x).End(), 0x00103101, {}},
      {"zero in name", Crafted().File(std::string("a\0b", 3), x).End(), 0x01201221, {}},
      {"absolute",
       Crafted().File("D:\\data\\a.txt", "A").File("D:\\data\\sub\\b.txt", "B").File("E:\\x\\d", "D").End(),
       0, Files{{"a.txt", "A"}, {"sub/b.txt", "B"}, {"d", "D"}}},
      {"name of 2047 bytes", Crafted().File(long_ok, x).End(), 0, Files{{long_path, x}}},
      {"name of 2048 bytes", Crafted().File(LongName(2048), x).End(), 0x00111221, {}},
      {"stored length 0", Crafted(1024).Record("a", 3).U32(0).End(), 0x007A1901, {}},
      {"stored length above the block size",
       Crafted(1024).Record("a", 2000).U32(1025).Raw(std::string(1025, 'x')).End(),
       0x007A1901,
       {}},
      {"stored length above the content",
       Crafted(1024).Record("a", 3).U32(5).Raw("abcde").U32(3).End(),
       0x00311901,
       {}},
      {"final length wrong", Crafted(1024).Record("a", 3).U32(3).Raw("abc").U32(4).End(), 0x007A1902, {}},
      {"size beyond the file", Crafted().Record("a", uint64_t{1} << 40).Raw(x).End(), 0x01031902, {}},
  };
  for (const Hostile& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir root;
    fs::create_directories(root / "deep/out");
    WriteFile(root / "a.pea", c.bytes);
    EXPECT_EQ(Unpack(root / "a.pea", root / "deep/out"), c.code);
    Files files;
    for (const auto& [name, content] : Tree(root.path())) {
      if (name == "a.pea" || name == "deep" || name == "deep/out") continue;
      EXPECT_EQ(name.rfind("deep/out/", 0), 0u) << name;
      if (content != "<dir>") files[name.substr(9)] = content;
    }
    EXPECT_EQ(files, c.files);
  }
  // Leading separators: a server name goes with the rest of an absolute base; a leading "/"
  // is refused as stored, by both exports and by the listing.
  TempDir root;
  fs::create_directories(root / "deep/out");
  WriteFile(root / "a.pea", Crafted().File("\\\\server\\share\\c", x).End());
  EXPECT_EQ(Unpack1(root / "a.pea", root / "deep/out"), 0u);
  WriteFile(root / "a.pea", Crafted().File("/etc/evil", x).End());
  EXPECT_EQ(Unpack(root / "a.pea", root / "deep/out"), 0x00103105u);
  EXPECT_EQ(Unpack1(root / "a.pea", root / "deep/out"), 0x00103105u);
  uint32_t code = 0;
  List(root / "a.pea", "", 4096, &code);
  EXPECT_EQ(code, 0x00103105u);
  Files want = {
      {"a.pea", ReadFile(root / "a.pea")}, {"deep", "<dir>"}, {"deep/out", "<dir>"}, {"deep/out/c", x}};
  EXPECT_EQ(Tree(root.path()), want);
}

// A target of 1023 units still fits a path; 1024 units do not.
TEST(PeaHostile, TargetLengthLimitIsTheSameForBothExports) {
  TempDir dir;
  fs::path out = dir.path();
  while (out.string().size() < 900) out /= std::string(100, 'd');
  fs::create_directories(out);
  for (size_t total : {1023u, 1024u}) {
    WriteFile(dir / "a.pea", Crafted().File(std::string(total - out.string().size() - 1, 'n'), "x").End());
    uint32_t want = total == 1023 ? 0 : 0x00110001;
    EXPECT_EQ(Unpack1(dir / "a.pea", out), want) << total;
    EXPECT_EQ(Unpack(dir / "a.pea", out), want) << total;
  }
}

// No call may destroy its own input: packing a file into itself, packing a folder that holds
// the archive, extracting a member over the archive being read, or splitting an archive onto
// its own first volume.
TEST(PeaHostile, NoCallWritesOverItsOwnInput) {
  TempDir dir;
  fs::create_directories(dir / "src");
  std::string source = dir / "src/x.txt", archive = dir / "src/a.pea";
  WriteFile(source, "precious");
  Options o = PackOptions(0, 2, 2, 2);
  EXPECT_NE(pea_pack1(nullptr, source.c_str(), source.c_str(), "", nullptr, o.data()), 0u);
  EXPECT_TRUE(ReadFile(source) == "precious") << "pea_pack1 replaced its source";

  ASSERT_EQ(Pack(archive, dir / "src/*", o), 0u);
  const std::string packed = ReadFile(archive);
  uint32_t code;
  if (Pack(archive, dir / "src/*", o) == 0) {
    EXPECT_EQ(List(archive, "", 2048, &code).find(" a.pea\r\n"), std::string::npos)
        << "it packed a part of itself";
  }

  for (auto unpack : {0, 1}) {
    const std::string self = Crafted().File("self.pea", std::string(3000, 's')).End();
    WriteFile(dir / "self.pea", self);
    EXPECT_NE(unpack ? Unpack1(dir / "self.pea", "") : Unpack(dir / "self.pea", ""), 0u);
    EXPECT_TRUE(ReadFile(dir / "self.pea") == self) << "pea_unpack" << 2 - unpack << " destroyed the archive";
  }

  WriteFile(dir / "v.000001.pea", packed);
  const uint32_t split[3] = {0, 0, 1024};
  EXPECT_NE(pea_split(nullptr, (dir / "v.000001.pea").c_str(), nullptr, split), 0u);
  EXPECT_TRUE(ReadFile(dir / "v.000001.pea") == packed) << "pea_split destroyed the archive";
}

// Every truncation and every single-byte flip of a small archive: each call returns, no flip
// passes as sound, and whatever is extracted is complete and correct.
TEST(PeaHostile, EveryTruncationAndFlipFailsCleanly) {
  TempDir dir;
  fs::create_directories(dir / "src");
  std::string one, two = "second file\n";
  for (int i = 0; i < 30; ++i) one += "line " + std::to_string(i) + " of the first\n";
  WriteFile(dir / "src/one.txt", one);
  WriteFile(dir / "src/two.txt", two);
  const Files originals = {{"one.txt", one}, {"two.txt", two}};
  std::string archive = dir / "m.pea", out = dir / "out";
  // With a volume check, and without one (so that damage reaches the records and blocks).
  const std::pair<Options, const char*> settings[] = {{PackOptions(2, 2, 49, 2), "pw"},
                                                      {PackOptions(2, 0, 19, 2), ""}};
  for (const auto& [options, password] : settings) {
    ASSERT_EQ(Pack(archive, dir / "src/*", options, password), 0u);
    const std::string good = ReadFile(archive);
    std::vector<std::string> faults;
    for (size_t at = 0; at < 2 * good.size(); ++at) {
      bool flip = at >= good.size();
      size_t i = at % good.size();
      std::string bytes = flip ? good : good.substr(0, i),
                  what = (flip ? "flip " : "cut ") + std::to_string(i);
      if (flip) bytes[i] ^= '\xFF';
      WriteFile(archive, bytes);
      fs::remove_all(out);
      fs::create_directory(out);
      uint32_t listed, code = Unpack(archive, out, kNoFlags, password);
      if (code == 0) faults.push_back(what + ": extracted as sound");
      if (List(archive, password, 2048, &listed).find(" is wrong") == std::string::npos && listed == 0)
        faults.push_back(what + ": listed as sound");
      for (const auto& [name, content] : Tree(out))
        if (content != "<dir>" && (!originals.count(name) || originals.at(name) != content))
          faults.push_back(what + ": left " + name);
      if (std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()) != 3)
        faults.push_back(what + ": wrote outside");
    }
    EXPECT_TRUE(faults.empty()) << faults.size() << " faults, first: " << faults.front();
  }
}

}  // namespace
}  // namespace tx::test
