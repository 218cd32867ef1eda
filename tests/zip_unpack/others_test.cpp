// Archives other writers make: folders marked by their attribute alone, and a program
// (a self-extractor) in front of the archive.
#include "zip_unpack/zip_test.h"

namespace tx::test {
namespace {

namespace fs = std::filesystem;
using Others = ZipScratch;

TEST_F(Others, FoldersMarkedOnlyByTheirAttributeAreFolders) {
  const std::string archive = Archive({{.name = "OLDDIR", .attributes = 0x10, .host = 0},
                                       {.name = "OLDDIR/FILE.TXT", .data = "dos"},
                                       {.name = "NTDIR", .attributes = 0x30, .host = 10},
                                       {.name = "unixdir", .attributes = 040755u << 16, .host = 3},
                                       {.name = "unixdir/f", .data = "unix", .attributes = 0100644u << 16, .host = 3},
                                       {.name = "plain", .data = "file", .attributes = 0x20, .host = 0}});
  const std::string out = Out();
  ASSERT_EQ(Unpack2(archive, out), 0u);
  EXPECT_EQ(Tree(out), (std::map<std::string, std::string>{{"NTDIR/", ""},
                                                          {"OLDDIR/", ""},
                                                          {"OLDDIR/FILE.TXT", "dos"},
                                                          {"plain", "file"},
                                                          {"unixdir/", ""},
                                                          {"unixdir/f", "unix"}}));
  std::string text;
  ASSERT_EQ(List(archive, text), 0u);
  EXPECT_NE(text.find("3 folders"), std::string::npos) << text;
}

TEST_F(Others, DataInFrontIsPassedOverAndKeptByUpdates) {
  const std::string stub = RandomBytes(70000, 4);  // more than the tail that is searched
  const std::vector<Member> members = {{.name = "a.txt", .data = std::string(5000, 'a'), .method = 8},
                                       {.name = "b/", .attributes = 0x10},
                                       {.name = "b/c.bin", .data = RandomBytes(3000, 5)}};
  for (bool zip64 : {false, true}) {
    const std::string archive = Save(stub + BuildZip(members, {.zip64 = zip64}));
    std::string out = Out();
    ASSERT_EQ(Unpack2(archive, out), 0u) << zip64;
    EXPECT_EQ(ReadFile(out + "/a.txt"), members[0].data);
    EXPECT_EQ(ReadFile(out + "/b/c.bin"), members[2].data);
    std::string text;
    EXPECT_EQ(List(archive, text), 0u);

    // The program stays in front; the offsets after it now count from the file's start,
    // so peers read the result without complaint.
    uint32_t options[1] = {0};
    ASSERT_EQ(zip_delete(nullptr, archive.c_str(), nullptr, "a.txt", nullptr, options), 0u);
    const std::string updated = ReadFile(archive);
    EXPECT_EQ(updated.substr(0, stub.size()), stub);
    int status = 0;
    const std::string report = Shell("unzip -t " + Quote(archive) + " 2>&1", &status);
    EXPECT_EQ(status, 0) << report;
    EXPECT_EQ(report.find("extra bytes"), std::string::npos) << report;
    out = Out();
    ASSERT_EQ(Unpack2(archive, out), 0u);
    EXPECT_EQ(Tree(out), (std::map<std::string, std::string>{{"b/", ""}, {"b/c.bin", members[2].data}}));
  }
  // One member behind a program: the single-member call finds it too.
  const std::string single = Save(stub.substr(0, 100) + BuildZip({members[0]}));
  const std::string out = Out();
  ASSERT_EQ(Unpack1(single, out), 0u);
  EXPECT_EQ(ReadFile(out + "/a.txt"), members[0].data);
}

}  // namespace
}  // namespace tx::test
