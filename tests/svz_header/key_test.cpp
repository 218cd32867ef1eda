// The 7z key derivation and AES chain: against a direct computation, and against streams
// 7-Zip encrypted with ASCII, accented and Japanese passwords.
#include <gtest/gtest.h>
#include <openssl/sha.h>

#include <cstring>
#include <string>
#include <vector>

#include "../test_support.h"
#include "frame/bytes.h"
#include "svz/svz_aes.h"
#include "svz/svz_index.h"

namespace tx::svz {
namespace {

std::vector<uint8_t> Wide(const std::string& utf8) {
  frame::Password p;
  p.Set(utf8.c_str());
  WidePassword w;
  EXPECT_TRUE(w.Set(p));
  return std::vector<uint8_t>(w.data(), w.data() + w.size());
}

// SHA-256 over all units at once, the plain way.
std::vector<uint8_t> Reference(const std::vector<uint8_t>& salt, const std::vector<uint8_t>& wide,
                               int power) {
  std::vector<uint8_t> message;
  for (uint64_t i = 0; i < (uint64_t{1} << power); ++i) {
    message.insert(message.end(), salt.begin(), salt.end());
    message.insert(message.end(), wide.begin(), wide.end());
    for (int k = 0; k < 8; ++k) message.push_back(static_cast<uint8_t>(i >> (8 * k)));
  }
  std::vector<uint8_t> digest(32);
  SHA256(message.data(), message.size(), digest.data());
  return digest;
}

TEST(SvzKey, PasswordUnitsAndCut) {
  EXPECT_EQ(Wide("ab"), (std::vector<uint8_t>{'a', 0, 'b', 0}));
  EXPECT_EQ(Wide("\xC3\xA9"), (std::vector<uint8_t>{0xE9, 0x00}));
  EXPECT_EQ(Wide("\xE6\x97\xA5\xE6\x9C\xAC"), (std::vector<uint8_t>{0xE5, 0x65, 0x2C, 0x67}));
  // The 250-byte limit falls inside "é": the character goes, not half of it.
  std::string long_password(249, 'a');
  long_password.append("\xC3\xA9");
  EXPECT_EQ(Wide(long_password).size(), 2u * 249);
  std::string exact(248, 'a');
  exact.append("\xC3\xA9");
  EXPECT_EQ(Wide(exact).size(), 2u * 249);
  frame::Password bad;
  bad.Set("\xFF\xFE");
  WidePassword w;
  EXPECT_FALSE(w.Set(bad));
}

TEST(SvzKey, DerivationMatchesTheDirectComputation) {
  std::vector<uint8_t> salt = {1, 2, 3, 4, 5, 6, 7, 8};
  std::vector<uint8_t> wide = Wide("secret");
  frame::Password p;
  p.Set("secret");
  WidePassword w;
  ASSERT_TRUE(w.Set(p));
  for (int power : {0, 1, 6, 7, 11}) {
    for (uint32_t salt_size : {0u, 8u}) {
      uint8_t key[32];
      ASSERT_EQ(DeriveKey7z(w, false, key, power, salt_size, salt.data()), kOk);
      std::vector<uint8_t> used(salt.begin(), salt.begin() + salt_size);
      EXPECT_EQ(std::vector<uint8_t>(key, key + 32), Reference(used, wide, power)) << power;
    }
  }
  // An empty password still gives a key, from the counters alone.
  frame::Password none;
  WidePassword empty;
  ASSERT_TRUE(empty.Set(none));
  uint8_t key[32];
  ASSERT_EQ(DeriveKey7z(empty, false, key, 3, 0, nullptr), kOk);
  EXPECT_EQ(std::vector<uint8_t>(key, key + 32), Reference({}, {}, 3));
}

TEST(SvzKey, KeyCacheRefusesRunawayCyclesWhenReading) {
  frame::Password p;
  WidePassword w;
  ASSERT_TRUE(w.Set(p));
  CoderRecord coder;
  coder.chain_flags = kChainAes;
  coder.cycles_power = 31;
  KeyCache cache;
  const uint8_t* key = nullptr;
  EXPECT_EQ(cache.Get(w, false, coder, true, key), 0x00451703u);
}

// 7-Zip's own encryption of a stored file, decrypted with our derivation.
TEST(SvzKey, SevenZipStreamsDecryptExactly) {
  test::TempDir dir;
  std::string data = test::RandomBytes(70000, 7);
  test::WriteFile(dir / "f.bin", data);
  for (std::string password : {"pass word", "p\xC3\xA9tanque", "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E"}) {
    std::string archive = dir / "a.7z";
    std::remove(archive.c_str());
    int status = 0;
    test::Shell("7zz a -t7z -m0=Copy -mhc=off -p" + test::Quote(password) + " " + test::Quote(archive) + " " +
                    test::Quote(dir / "f.bin") + " >/dev/null 2>&1",
                &status);
    ASSERT_EQ(status, 0);
    std::string bytes = test::ReadFile(archive);
    const uint8_t* b = reinterpret_cast<const uint8_t*>(bytes.data());
    SignatureInfo sig;
    ASSERT_EQ(FindSignatureHeader(b, bytes.size(), sig), kOk);
    size_t header_at = 32 + sig.next_offset;
    ASSERT_LE(header_at + sig.next_size, bytes.size());
    ArchiveIndex index;
    ASSERT_EQ(IndexMainHeader(b + header_at, sig.next_size, index), kOk);
    ASSERT_EQ(index.folders.size(), 1u);
    const FolderInfo& f = index.folders[0];
    ASSERT_TRUE(f.coder.chain_flags & kChainAes);
    frame::Password p;
    p.Set(password.c_str());
    WidePassword w;
    ASSERT_TRUE(w.Set(p));
    KeyCache cache;
    const uint8_t* key = nullptr;
    ASSERT_EQ(cache.Get(w, false, f.coder, true, key), kOk);
    StreamCipher cipher;
    ASSERT_TRUE(cipher.Begin(key, f.coder, false));
    std::vector<uint8_t> stream(b + 32 + f.pack_offset, b + 32 + f.pack_offset + f.packed_size);
    ASSERT_EQ(stream.size() % 16, 0u);
    // In two calls, to check the chain carries over.
    ASSERT_TRUE(cipher.Run(stream.data(), 4096));
    ASSERT_TRUE(cipher.Run(stream.data() + 4096, stream.size() - 4096));
    ASSERT_GE(stream.size(), data.size());
    EXPECT_EQ(0, std::memcmp(stream.data(), data.data(), data.size())) << password;
    EXPECT_EQ(f.coded_size, data.size());
  }
}

}  // namespace
}  // namespace tx::svz
