// The listing text: head, columns, a rule before records 1, 11, 21, ..., the totals, and
// the refusal of a piece that does not fit.
#include <gtest/gtest.h>

#include "zip_test.h"

namespace tx::test {
namespace {

const std::string kColumns =
    "   Date      Time   Attr Method    Encrypt     CRC-32         Size   Packed size  Name\r\n";
const std::string kRule =
    "---------- -------- ---- ------- ------------ -------- ------------ ------------ "
    "------------------------\r\n";

std::string Row(const std::string& attributes, const std::string& method, const std::string& encryption,
                const std::string& crc, const std::string& sizes, const std::string& name) {
  return "2023-05-06 12:34:48 " + attributes + method + encryption + crc + sizes + name + "\r\n";
}

std::string Head(const std::string& path, size_t entries) {
  return "Archive : " + path + "\r\nSize    : " + std::to_string(std::filesystem::file_size(path)) +
         "\r\nContent : " + std::to_string(entries);
}

TEST(ZipList, EveryKindOfRecordWithRulesAndTotals) {
  TempDir dir;
  std::string blob(40, '\x11');
  std::vector<Member> members = {
      {.name = "dir/", .attributes = 0x10},
      {.name = "empty.txt"},
      {.name = "store.bin", .data = "abc", .attributes = 0x21},
      {.name = "deflate.txt", .data = std::string(1000, 'x'), .method = 8, .crc = 0xA1B2C3D4, .stored = blob},
      {.name = "ae1.bin", .data = "d", .method = 8, .aes = 1, .crc = 0x0BADF00D, .stored = blob},
      {.name = "ae2.bin", .data = "e", .aes = 2, .key_length = 16, .stored = blob},
      {.name = "tpe.bin", .data = "f", .method = 8, .flags = 1, .crc = 0xFFFFFFFF, .stored = blob},
      {.name = "bz.bin", .data = "g", .method = 12, .crc = 1, .stored = blob},
      {.name = "hidden", .data = "h", .attributes = 0x07, .crc = 2, .stored = blob},
      {.name = "unix", .data = "i", .attributes = 0x21, .host = 3, .crc = 3, .stored = blob},
      {.name = "m9", .data = "j", .method = 9, .crc = 4, .stored = blob},
      {.name = "m10", .data = "k", .method = 10, .crc = 5, .stored = blob},
      {.name = "m14 with space", .data = "l", .method = 14, .crc = 6, .stored = blob},
  };
  std::string archive = dir / "all.zip";
  WriteFile(archive, BuildZip(members));
  const std::string none(13, ' '), no_crc(8, ' ');
  auto sizes = [](const std::string& size, const std::string& packed) {
    return std::string(13 - size.size(), ' ') + size + std::string(13 - packed.size(), ' ') + packed + " ";
  };
  const std::string one = sizes("1", "40");
  std::string expected =
      Head(archive, 13) + "\r\n\r\n" + kColumns + kRule +
      Row("     ", "Folder  ", none, no_crc, std::string(25, ' ') + "0 ", "dir/") +
      Row("   A ", "Empty   ", none, no_crc, sizes("0", "0"), "empty.txt") +
      Row("R  A ", "Store   ", none, "352441C2", sizes("3", "3"), "store.bin") +
      Row("   A ", "Deflate ", none, "A1B2C3D4", sizes("1000", "40"), "deflate.txt") +
      Row("   A ", "Deflate ", "AE-1 256     ", "0BADF00D", one, "ae1.bin") +
      Row("   A ", "Store   ", "AE-2 128     ", no_crc, one, "ae2.bin") +
      Row("   A ", "Deflate ", "TPE          ", "FFFFFFFF", one, "tpe.bin") +
      Row("   A ", "BZip2   ", none, "00000001", one, "bz.bin") +
      Row("RHS  ", "Store   ", none, "00000002", one, "hidden") +
      Row("     ", "Store   ", none, "00000003", one, "unix") + kRule +
      Row("   A ", "Defla64 ", none, "00000004", one, "m9") +
      Row("   A ", "DCL Imp ", none, "00000005", one, "m10") +
      Row("   A ", "LZMA    ", none, "00000006", one, "m14 with space") + kRule +
      "       11 files       1 empties       1 folders                1012          403\r\n";
  std::string text;
  ASSERT_EQ(List(archive, text), 0u);
  EXPECT_EQ(text, expected);

  // Room for all but the totals: refused there, with the text complete up to the last rule.
  ASSERT_EQ(List(archive, text, static_cast<uint32_t>(expected.size())), 0x00280000u);
  EXPECT_EQ(text, expected.substr(0, expected.rfind(kRule) + kRule.size()));
  EXPECT_EQ(List(archive, text, static_cast<uint32_t>(expected.size() + 1)), 0u);
  EXPECT_EQ(List(archive, text, 0), 0u);
  EXPECT_EQ(text, "");
}

TEST(ZipList, EmptyArchiveAndClaimedEntries) {
  TempDir dir;
  std::string archive = dir / "empty.zip";
  WriteFile(archive, BuildZip({}));
  std::string text;
  ASSERT_EQ(List(archive, text), 0u);
  EXPECT_EQ(text, Head(archive, 0) + "\r\n\r\n" + kColumns + kRule +
                      "        0 files       0 empties       0 folders                   0            0\r\n");

  // An end record that claims 65535 entries without a Zip64 record: the block is walked.
  archive = dir / "claims.zip";
  WriteFile(archive, BuildZip({{.name = "a", .data = "1"}, {.name = "b", .data = "2"}}, {.entries = 0xFFFF}));
  ASSERT_EQ(List(archive, text), 0u);
  EXPECT_EQ(text.substr(0, Head(archive, 65535).size()), Head(archive, 65535));
  EXPECT_NE(text.find("        2 files"), std::string::npos) << text;
}

// Directories whose signature cannot be checked or that need strong encryption are shown,
// then refused.
TEST(ZipList, SignedAndEncryptedDirectories) {
  TempDir dir;
  std::vector<Member> members;  // a block long enough to carry a signature record
  for (int i = 0; i < 8; ++i) members.push_back({.name = "member" + std::to_string(i), .data = "data"});
  std::string bytes = BuildZip(members);
  std::string record;
  Put32(record, 0x05054b50), Put16(record, 6), Put16(record, 1), Put16(record, 0x8004), Put16(record, 0);
  size_t end = bytes.size() - 22;
  bytes.insert(end, record);
  bytes[end + record.size() + 12] = static_cast<char>(bytes[end + record.size() + 12] + record.size());
  std::string archive = dir / "signed.zip";
  WriteFile(archive, bytes);
  std::string text;
  // No certificate store to check the signature against.
  EXPECT_EQ(List(archive, text), 0x00515201u);
  EXPECT_EQ(Unpack2(archive, dir / ""), 0x00515201u);
  {
    ScriptedUi ui;
    ui.dialogs.AnswerNotice(1);
    ui.dialogs.AnswerNotice(1);
    ASSERT_EQ(List(archive, text, 1 << 16, TESSAREX_FLAG_ASK_ON_ERROR), 0u);
    EXPECT_NE(text.find("\r\nHeader  : Signature (BAD)\r\n\r\n"), std::string::npos) << text;
    std::string out = dir / "out";
    std::filesystem::create_directory(out);
    EXPECT_EQ(Unpack2(archive, out, nullptr, TESSAREX_FLAG_ASK_ON_ERROR), 0u);
    EXPECT_EQ(Tree(out).size(), 8u);
  }

  // A version 2 Zip64 record naming AES-128 for the directory, which starts with its
  // decryption header, whose size field (4) leaves no room for its fields.
  std::string encrypted = EncryptedDirectoryArchive();
  archive = dir / "encrypted.zip";
  WriteFile(archive, encrypted);
  EXPECT_EQ(List(archive, text), 0x00441306u);
  EXPECT_EQ(text, Head(archive, 1) + "\r\nHeader  : Encrypt (AES-128 P)");
  EXPECT_EQ(Unpack2(archive, dir / ""), 0x00441306u);
}

}  // namespace
}  // namespace tx::test
