// Packing and unpacking through the exports: round trips over every setting, the bytes the
// writer produces, and the codes of refused requests.
#include <cstdlib>
#include <ctime>

#include "pea/pea_test.h"

namespace tx::test {
namespace {

// Local times (MS-DOS stamps, listings, prompts) are read in a zone with summer time, and no
// dialog ever reaches a terminal.
class PeaEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    ::setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
    ::tzset();
    previous_ = ui::InstallDialogs(&silent_);
  }
  void TearDown() override { ui::InstallDialogs(previous_); }

 private:
  ui::ScriptedDialogs silent_;
  ui::Dialogs* previous_ = nullptr;
};
[[maybe_unused]] const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new PeaEnvironment);

constexpr size_t kBig = 2 * 1048576 + 12345;

// Every kind of entry: an empty file, empty and nested folders, a read-only file, a file of
// exactly one block and one of three (the first incompressible, the rest text). Times have odd seconds and
// fractions, in summer and in winter.
void MakeTree(const fs::path& src) {
  fs::create_directories(src / "nest/deeper");
  fs::create_directories(src / "nest/also_empty");
  fs::create_directories(src / "emptydir");
  std::string big = RandomBytes(1048576, 1);
  for (int i = 0; big.size() < kBig; ++i) big += "line " + std::to_string(i) + " of some text\n";
  big.resize(kBig);
  WriteFile(src / "big.bin", big);
  WriteFile(src / "nest/block.bin", big.substr(kBig - 1048576));  // exactly one block
  WriteFile(src / "empty.txt", "");
  WriteFile(src / "small.txt", "hello\n");
  WriteFile(src / "nest/deeper/leaf.txt", RandomBytes(3000, 2));
  WriteFile(src / "ro.txt", "read only");
  WriteFile(src / "nest/\xC3\xBCnicode \xE2\x82\xAC.txt", "named in UTF-8");
  fs::permissions(src / "ro.txt", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  for (const char* name :
       {"empty.txt", "small.txt", "nest/deeper/leaf.txt", "ro.txt", "emptydir", "nest/also_empty"})
    SetTime(src / name, kSummer, 700000000);
  SetTime(src / "big.bin", kWinter + 2, 999999999);
}

// Same names and bytes; files and empty folders carry the source's time at the precision of
// the time encoding; the read-only file stays read-only.
void ExpectSameTree(const fs::path& src, const fs::path& out, uint32_t encoding) {
  auto want = Tree(src), got = Tree(out);
  ASSERT_EQ(want.size(), got.size());
  for (const auto& [name, content] : want) {
    ASSERT_TRUE(got.count(name)) << name;
    EXPECT_TRUE(got[name] == content) << name;
    if (content == "<dir>" && !fs::is_empty(src / name)) continue;
    int64_t seconds = GetTime(src / name).tv_sec;
    timespec time = GetTime(out / name);
    EXPECT_EQ(time.tv_sec, encoding == 48 ? seconds : seconds & ~int64_t{1}) << name;
    EXPECT_EQ(time.tv_nsec, 0) << name;
  }
  EXPECT_EQ(fs::status(out / "ro.txt").permissions() & fs::perms::owner_write, fs::perms::none);
}

struct Config {
  uint32_t compression, time, volume, stream, object;
  bool key_file;
};
// All compression and time settings; every check id at the volume level and most at the
// other two; each cipher with and without a key file.
const Config kConfigs[] = {
    {0, 16, 0, 0, 0, false},   {1, 16, 1, 48, 2, true},    {2, 16, 2, 49, 3, false},
    {3, 16, 3, 65, 16, true},  {0, 48, 16, 1, 17, false},  {1, 48, 17, 2, 18, false},
    {2, 48, 18, 3, 19, false}, {3, 48, 19, 16, 20, false}, {2, 16, 20, 49, 21, true},
    {1, 48, 21, 65, 1, false}, {3, 48, 0, 48, 0, false},
};

class PeaRoundTrip : public ::testing::TestWithParam<Config> {};

TEST_P(PeaRoundTrip, ExtractsTheSameTreeAndTheReaderVerifiesEveryByte) {
  const Config c = GetParam();
  TempDir dir;
  MakeTree(dir.path() / "src");
  std::string archive = dir / "a.pea", key_path = dir / "key", out = dir / "out", none = dir / "none";
  WriteFile(key_path, RandomBytes(3000, 9));
  fs::create_directory(out);
  fs::create_directory(none);
  bool encrypted = c.stream >= 48;
  const char* password = encrypted ? "pass word" : "";
  const char* key = c.key_file ? key_path.c_str() : nullptr;
  ASSERT_EQ(Pack(archive, dir / "src", PackOptions(c.compression, c.volume, c.stream, c.object, c.time),
                 password, key),
            0u);
  std::string report, args = Quote(archive) + " --password " + Quote(password);
  EXPECT_EQ(Reader(args + (key ? " --key-file " + Quote(key) : ""), &report), 0) << report;
  ASSERT_EQ(Unpack(archive, out, kNoFlags, password, key), 0u);
  ExpectSameTree(dir.path() / "src", dir.path() / "out/src", c.time);
  char text[4096];
  EXPECT_EQ(pea_list(nullptr, archive.c_str(), password, key, text, sizeof text, kNoFlags), 0u);
  EXPECT_EQ(std::string(text).find("wrong"), std::string::npos) << text;
  if (!encrypted) return;

  // A wrong password or key file is found at the verifier, before anything is written.
  EXPECT_EQ(Unpack(archive, none, kNoFlags, "pass wore", key), 0x00410000u);
  EXPECT_EQ(Unpack(archive, none, kNoFlags, password, key ? nullptr : key_path.c_str()), 0x00410000u);
  EXPECT_TRUE(fs::is_empty(none));
}

INSTANTIATE_TEST_SUITE_P(Settings, PeaRoundTrip, ::testing::ValuesIn(kConfigs),
                         [](const ::testing::TestParamInfo<Config>& info) {
                           const Config& c = info.param;
                           return "c" + std::to_string(c.compression) + "_t" + std::to_string(c.time) + "_v" +
                                  std::to_string(c.volume) + "_s" + std::to_string(c.stream) + "_o" +
                                  std::to_string(c.object) + (c.key_file ? "_key" : "");
                         });

TEST(PeaLayout, HeaderBytesThenCryptoHeaderWithAFreshSalt) {
  TempDir dir;
  WriteFile(dir / "a.txt", "abc");
  Options o = PackOptions(2, 2, 49, 19, 16);
  std::string first, second;
  for (std::string* bytes : {&first, &second}) {
    ASSERT_EQ(pea_pack1(nullptr, (dir / "a.pea").c_str(), (dir / "a.txt").c_str(), "pw", nullptr, o.data()),
              0u);
    *bytes = ReadFile(dir / "a.pea");
  }
  ASSERT_GT(first.size(), 36u);
  EXPECT_EQ(Hex(first.data(), 22),
            "ea010002001110011300"
            "0000504f440002003113"
            "0000");
  // Block-size field, record, one raw block between its lengths, object tag, end marker,
  // stream tag, volume tag.
  EXPECT_EQ(first.size(), 36u + 4 + (2 + 5 + 16) + 4 + 3 + 4 + 32 + 6 + 16 + 4);
  EXPECT_NE(first.substr(22, 12), second.substr(22, 12));
  EXPECT_EQ(Reader(Quote(dir / "a.pea") + " --password pw"), 0);
}

TEST(PeaLayout, PlainArchiveIsExactlyHeaderRecordRawBlockAndEndMarker) {
  TempDir dir;
  WriteFile(dir / "a.txt", "abc");
  SetTime(dir / "a.txt", kSummer, 5);
  ASSERT_EQ(Pack(dir / "a.pea", dir / "a.txt", PackOptions(1, 0, 0, 0, 48)), 0u);
  std::string bytes = ReadFile(dir / "a.pea");
  std::string want = Crafted(1048576).File("a.txt", "abc").End();
  EXPECT_EQ(Hex(bytes.data(), bytes.size()), Hex(want.data(), want.size()));
}

TEST(PeaPackCodes, RefusalsComeBeforeAnythingIsCreated) {
  TempDir dir;
  WriteFile(dir / "a.txt", "abc");
  std::string archive = dir / "a.pea", source = dir / "a.txt";
  Options o;
  for (auto pack : {pea_pack1, pea_pack2}) {
    o = {1, 0, 4, 4, 50, 4, 17, 0};
    auto run = [&] { return pack(nullptr, archive.c_str(), source.c_str(), "pw", nullptr, o.data()); };
    EXPECT_EQ(run(), 0x00020002u);
    o[2] = 3;
    EXPECT_EQ(run(), 0x00020003u);
    o[3] = 21;
    EXPECT_EQ(run(), 0x00020004u);  // ids 50 to 64 name no mode
    o[4] = 19;
    EXPECT_EQ(run(), 0x00400000u);
    o[0] = 0;
    EXPECT_EQ(run(), 0x00020005u);
    o[5] = 21;
    EXPECT_EQ(run(), 0x00020006u);
    EXPECT_FALSE(fs::exists(archive));
    o = {1, 0, 0, 0, 49, 0, 16, 0};  // word 0 with a cipher packs
    EXPECT_EQ(run(), 0u);
    fs::remove(archive);
  }
  // A folder for the single-file export, a pattern that matches nothing.
  fs::create_directories(dir / "sub");
  EXPECT_EQ(pea_pack1(nullptr, archive.c_str(), (dir / "sub").c_str(), "", nullptr, o.data()), 0x00120000u);
  EXPECT_EQ(Pack(archive, dir / "*.none", o), 0x00130002u);
  EXPECT_FALSE(fs::exists(archive));
}

TEST(PeaUnpackCodes, OpeningRefusesWhatItMust) {
  TempDir dir;
  fs::create_directories(dir / "out");
  std::string archive = dir / "a.pea", out = dir / "out";
  auto unpack = [&](const std::string& bytes, const uint32_t* options = kNoFlags) {
    WriteFile(archive, bytes);
    return Unpack(archive, out, options);
  };
  const uint32_t demand[2] = {1, 0};
  EXPECT_EQ(unpack(Crafted().File("a", "x").End(), demand), 0x00400000u);
  EXPECT_EQ(unpack(Crafted(1023).File("a", "x").End()), 0x00601241u);
  EXPECT_EQ(unpack(Crafted(10485761).File("a", "x").End()), 0x00601241u);
  uint32_t code;
  List(archive, "", 1024, &code);
  EXPECT_EQ(code, 0x00601241u);
  EXPECT_TRUE(fs::is_empty(out));
  // The smallest and largest block sizes are read as declared.
  std::string content = RandomBytes(3000, 4);
  EXPECT_EQ(unpack(Crafted(1024).File("a", content).End()), 0u);
  EXPECT_EQ(unpack(Crafted(10485760).File("b", content).End()), 0u);
  EXPECT_EQ(Tree(out), (Files{{"a", content}, {"b", content}}));
  // The single-file export takes the first of two files and succeeds; without objects it has
  // nothing to give, the other export nothing to do; a folder is not a single file.
  fs::remove_all(out);
  fs::create_directory(out);
  WriteFile(archive, Crafted().File("f1", "one").File("f2", "two").End());
  EXPECT_EQ(Unpack1(archive, out), 0u);
  EXPECT_EQ(Tree(out), (Files{{"f1", "one"}}));
  EXPECT_EQ(unpack(Crafted().End()), 0u);
  EXPECT_EQ(Unpack1(archive, out), 0x007A1221u);
  WriteFile(archive, Crafted().Record("dir\\", 0).End());
  EXPECT_EQ(Unpack1(archive, out), 0x00120000u);
}

}  // namespace
}  // namespace tx::test
