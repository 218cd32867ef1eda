// The records of archives we write, read back field by field.
#include "zip_pack_test.h"

namespace tx::test {
namespace {

class ZipPackRecords : public ::testing::Test {
 protected:
  Archive Pack1(const std::string& name, const Words& w) {
    EXPECT_EQ(zip_pack1(nullptr, archive.c_str(), (dir / name).c_str(), "pw", w.data()), 0u);
    return ReadArchive(archive);
  }
  Archive Pack2(const std::string& source, const Words& w) {
    EXPECT_EQ(zip_pack2(nullptr, archive.c_str(), (dir / source).c_str(), "pw", w.data()), 0u);
    return ReadArchive(archive);
  }
  TempDir dir, target;
  std::string archive = target / "out.zip";
};

TEST_F(ZipPackRecords, EmptyFilesAreStoredPlainWhateverTheOptions) {
  WriteFile(dir / "empty", "");
  WriteFile(dir / "full", "full");
  Archive a = Pack1("empty", Aes(1, 32, 12));
  EXPECT_EQ(a.bytes.size(), 30 + 5 + 46 + 5 + 22u);
  auto& [central, local] = a.entries.at(0);
  for (const Record* r : {&central, &local}) {
    EXPECT_EQ(r->version, 10u);
    EXPECT_EQ(r->flags | r->method | r->crc | r->packed | r->size, 0u);
    EXPECT_EQ(r->extra, "");
  }
  EXPECT_EQ(central.made, 62u);
  EXPECT_EQ(central.external, 0x20u);
  a = Pack2("*", Aes(1, 32, 12));
  EXPECT_EQ(a.entries.at(0).first.method, 0u);
  EXPECT_EQ(a.entries.at(1).first.method, 99u);
}

TEST_F(ZipPackRecords, AesKindKeyLengthAndCrc) {
  WriteFile(dir / "19", std::string(19, 'a'));
  WriteFile(dir / "20", std::string(20, 'a'));
  const uint32_t crc20 = crc32(0, reinterpret_cast<const Bytef*>(std::string(20, 'a').data()), 20);
  // file, kind, key option, method; then the vendor version and strength written.
  const std::tuple<const char*, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t> cases[] = {
      {"19", 3, 32, 8, 2, 3}, {"20", 3, 32, 8, 1, 3}, {"20", 3, 16, 12, 2, 1}, {"20", 1, 17, 0, 1, 1},
      {"20", 1, 0, 8, 1, 1},  {"20", 2, 24, 8, 2, 2}, {"20", 2, 40, 0, 2, 3},
  };
  for (auto [file, kind, key, method, vendor, strength] : cases) {
    SCOPED_TRACE(std::string(file) + " kind " + std::to_string(kind) + " key " + std::to_string(key));
    Archive a = Pack1(file, Aes(kind, key, method));
    auto& [central, local] = a.entries.at(0);
    std::string field = Extra(central.extra, 0x9901);
    ASSERT_EQ(field.size(), 7u);
    EXPECT_EQ(field, (std::string{char(vendor), 0, 'A', 'E', char(strength), char(method), 0}));
    EXPECT_EQ(Extra(local.extra, 0x9901), field);
    for (const Record* r : {&central, &local}) {
      EXPECT_EQ(r->method, 99u);
      EXPECT_EQ(r->flags & 1, 1u);
      EXPECT_EQ(r->crc, vendor == 1 ? crc20 : 0);
      EXPECT_EQ(r->size, std::stoul(file));
    }
    EXPECT_EQ(a.bytes.size(), local.length + central.packed + a.end_size + 22);
    if (method == 0) {
      EXPECT_EQ(central.packed, 20 + (8 + 8 * strength) / 2 + 12);
    }
  }
  // The salt follows the local header: never zero, never the same for the same data, in
  // one process or in two.
  auto salt = [&] {
    Archive a = Pack1("20", Aes(1, 32, 0));
    return a.bytes.substr(a.entries.at(0).second.length, 16);
  };
  const std::string first = salt(), second = salt();
  EXPECT_NE(first, std::string(16, '\0'));
  EXPECT_NE(first, second);
  uint32_t child = InChild([&] { return salt() == first ? 1u : 0u; });
  EXPECT_EQ(child, 0u);
}

TEST_F(ZipPackRecords, FoldersBeforeTheirContentsAndListFiles) {
  fs::create_directories(dir / "src/a/b");
  WriteFile(dir / "src/a/b/c.txt", "c");
  WriteFile(dir / "src/a/z.txt", "");
  WriteFile(dir / "src/top.txt", "top");
  auto names = [](const Archive& a) {
    std::string all;
    for (auto& [central, local] : a.entries) all += central.name + (local.name == central.name ? " " : "? ");
    return all;
  };
  Archive a = Pack2("src/*", Pack());
  EXPECT_EQ(names(a), "a/ a/b/ a/b/c.txt a/z.txt top.txt ");
  EXPECT_EQ(a.entries[0].first.external, 0x10u);
  uint64_t offset = 0;
  for (auto& [central, local] : a.entries) {
    EXPECT_EQ(central.offset, offset) << central.name;
    offset += local.length + central.packed;
  }
  EXPECT_EQ(names(Pack2("src/a/", Pack())), "a/ a/b/ a/b/c.txt a/z.txt ");
  // A listed folder is a folder member only.
  WriteFile(dir / "list", (dir / "src") + "\r\ntop.txt\r\n\r\na\r\na\\b\\c.txt\r\n");
  Words w = Pack();
  w[14] = 1;
  EXPECT_EQ(names(Pack2("list", w)), "top.txt a/ a/b/c.txt ");
}

TEST_F(ZipPackRecords, NtfsTimesUtf8NamesAndAttributes) {
  const std::string name =
      "Gr\xc3\xbc\xc3\x9f"
      "e.txt";
  WriteFile(dir / name, "content");
  fs::last_write_time(dir / name, fs::file_time_type::clock::from_sys(
                                      std::chrono::sys_seconds{std::chrono::seconds{1626349531}}));
  fs::permissions(dir / name, fs::perms::owner_read);
  Words w = Pack(0);
  w[12] = w[13] = 1;
  Archive a = Pack1(name, w);
  auto& [central, local] = a.entries.at(0);
  EXPECT_EQ(central.name, name);
  EXPECT_EQ(central.flags, 0x800u);
  EXPECT_EQ(local.flags, 0x800u);
  EXPECT_EQ(central.external, 0x21u);
  std::string ntfs = Extra(central.extra, 0x000a);
  ASSERT_EQ(ntfs.size(), 32u);
  EXPECT_EQ(Le(ntfs, 4, 4), 0x00180001u);
  EXPECT_EQ(Le(ntfs, 8, 8), (1626349531ull + 11644473600ull) * 10000000ull);
  // The local header carries the same field, so that peers comparing the headers agree.
  EXPECT_EQ(Extra(local.extra, 0x000a), ntfs);
  EXPECT_EQ(local.name, name);
  std::string out;
  EXPECT_EQ(Peer("unzip -t " + Quote(archive), &out), 0) << out;
  EXPECT_EQ(Peer("7zz t -bd " + Quote(archive), &out), 0) << out;
  // Without the options the name's bytes are the same, without the flag.
  a = Pack1(name, Pack(0));
  EXPECT_EQ(a.entries[0].first.name, name);
  EXPECT_EQ(a.entries[0].first.flags, 0u);
  EXPECT_EQ(a.entries[0].first.extra, "");
}

TEST_F(ZipPackRecords, CompressedCentralDirectory) {
  fs::create_directories(dir / "src/folder");
  WriteFile(dir / "src/folder/one.txt", Mixed(70000, 3));
  WriteFile(dir / "src/zero", "");
  for (uint32_t method : {8u, 12u}) {
    Words w = Pack(method, 9);
    w[4] = 3;  // bit 1 is dropped without strong encryption
    Archive a = Pack2("src/*", w);
    EXPECT_EQ(a.end_here, 0u);
    EXPECT_EQ(a.end_count, 0xFFFFu);
    ASSERT_EQ(a.z64.size(), 13u);
    // Version 2, made by and needing 62, no entries on this disk, three in all, the
    // option's method though the last member is stored, the CRC-32 of the directory.
    const uint32_t crc = crc32(0, reinterpret_cast<const Bytef*>(a.directory.data()), a.directory.size());
    EXPECT_EQ(a.z64, (std::vector<uint64_t>{76, 62, 62, 0, 3, a.end_size, a.z64[6], method, a.end_size,
                                            a.directory.size(), 1, 4, crc}));
    EXPECT_EQ(a.entries.at(2).first.name, "zero");
    for (auto& [central, local] : a.entries) {
      EXPECT_EQ(local.name, "1");
      EXPECT_EQ(local.flags & 0x2000, 0x2000u);
      EXPECT_EQ(local.stamp | local.crc | local.size, 0u);
      EXPECT_EQ(local.extra, "");
      EXPECT_EQ(local.packed, central.packed);
      EXPECT_EQ(central.flags & 0x2000, 0u);
    }
  }
  // Store drops the compression.
  Words w = Pack(0);
  w[4] = 1;
  Archive a = Pack2("src/*", w);
  EXPECT_TRUE(a.z64.empty());
  EXPECT_EQ(a.entries.at(1).second.name, "folder/one.txt");
}

}  // namespace
}  // namespace tx::test
