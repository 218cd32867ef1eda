#include "crypto/zipcrypto.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "crypto/crypto_test_util.h"

namespace tx::crypto {
namespace {

namespace fs = std::filesystem;
using testutil::Bytes;

uint32_t Le(const Bytes& b, size_t at, int bytes) {
  uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | b[at + i];
  return v;
}

TEST(ZipCryptoTest, DecryptsAMemberEncryptedByInfoZip) {
  const fs::path dir = fs::temp_directory_path() / ("tx-zipcrypto-" + std::to_string(std::random_device{}()));
  fs::create_directories(dir);
  const Bytes original = testutil::Pattern(5000);
  std::ofstream(dir / "data.bin", std::ios::binary)
      .write(reinterpret_cast<const char*>(original.data()), 5000);
  const std::string command = "cd '" + dir.string() + "' && zip -q -P secret -0 out.zip data.bin";
  const int status = std::system(command.c_str());
  std::ifstream in(dir / "out.zip", std::ios::binary);
  const Bytes zip((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  fs::remove_all(dir);
  ASSERT_EQ(status, 0) << command;

  // The local header: encrypted (flag bit 0), stored, 12 header bytes before the data.
  ASSERT_TRUE(zip.size() > 30 && Le(zip, 0, 4) == 0x04034b50u);
  const uint32_t flags = Le(zip, 6, 2), crc = Le(zip, 14, 4), stored = Le(zip, 18, 4);
  const size_t start = 30 + Le(zip, 26, 2) + Le(zip, 28, 2);
  ASSERT_TRUE((flags & 1) != 0 && Le(zip, 8, 2) == 0 && stored == 5012 && start + stored <= zip.size());
  Bytes member(zip.begin() + start, zip.begin() + start + stored);

  ZipCryptoKeys keys;
  ZipCryptoInitKeys("secret", keys);
  ZipCryptoDecrypt(member.data(), 12, keys);
  // With a trailing data descriptor the check byte is the high byte of the DOS time.
  EXPECT_EQ(member[11], (flags & 8) != 0 ? zip[11] : crc >> 24);
  ZipCryptoDecrypt(member.data() + 12, 1000, keys);  // two calls continue one stream
  ZipCryptoDecrypt(member.data() + 1012, 4000, keys);
  EXPECT_EQ(Bytes(member.begin() + 12, member.end()), original);

  for (const char* password : {static_cast<const char*>(nullptr), ""}) {
    keys.key0 = keys.key1 = keys.key2 = 0;
    ZipCryptoInitKeys(password, keys);
    EXPECT_TRUE(keys.key0 == 0x12345678u && keys.key1 == 0x23456789u && keys.key2 == 0x34567890u);
  }
}

}  // namespace
}  // namespace tx::crypto
