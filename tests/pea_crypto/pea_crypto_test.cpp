#include "pea/pea_crypto.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "crypto/crypto_test_util.h"
#include "crypto/hmac.h"
#include "test_support.h"

namespace tx::pea {
namespace {

using namespace crypto::testutil;
constexpr uint8_t kModes[] = {kModeAes128Hmac, kModeAes128Eax, kModeAes256Eax};
// Piece sizes, cycled: whole, byte by byte, around a block, around the internal buffers.
const std::vector<std::vector<size_t>> kSplits = {
    {SIZE_MAX}, {1}, {0, 15, 16, 17}, {4095, 1, 4097, 4096}, {7, 1000, 33}};

// Cryptodome as a peer. Each request line "eax KEY NONCE DATA" or "pea48|pea49 KM SALT DATA"
// (hex, "-" for none) is answered with "[VERIFIER] CIPHER TAG".
const char* kPeer = R"(import sys, hashlib, hmac
from Cryptodome.Cipher import AES
from Cryptodome.Util import Counter
def eax(key, nonce, data):
    return AES.new(key, AES.MODE_EAX, nonce=nonce, mac_len=16).encrypt_and_digest(data)
def ctr_hmac(key, mac_key, data):
    ct = AES.new(key, AES.MODE_CTR, counter=Counter.new(128, initial_value=0)).encrypt(data)
    return ct, hmac.new(mac_key, ct, hashlib.sha1).digest()[:16]
for line in open(sys.argv[1]):
    kind, *fields = line.split()
    a, b, data = [bytes.fromhex(f.strip('-')) for f in fields]
    out = []
    if kind != 'eax':
        d = hashlib.pbkdf2_hmac('sha1', a, b, 1000, 34)
        a, b, out = d[:16], d[16:32], [d[32:].hex()]
    mode = ctr_hmac if kind == 'pea48' else eax
    print(*out, *[x.hex() or '-' for x in mode(a, b, data)])
)";

std::string HexOrDash(const Bytes& bytes) { return bytes.empty() ? "-" : ToHex(bytes); }
std::u16string U16(const std::string& s) { return {s.begin(), s.end()}; }

std::vector<std::string> AskCryptodome(const std::string& requests) {
  test::TempDir dir;
  test::WriteFile(dir / "peer.py", kPeer);
  test::WriteFile(dir / "requests", requests);
  int status = -1;
  std::istringstream out(
      test::Shell("/usr/bin/python3 " + (dir / "peer.py") + " " + (dir / "requests") + " 2>&1", &status));
  std::vector<std::string> lines;
  for (std::string line; std::getline(out, line);) lines.push_back(line);
  EXPECT_EQ(status, 0) << out.str();
  return lines;
}

// Sets up the stream level `id` and feeds `data` in pieces; "VERIFIER DATA TAG" in hex.
std::string Stream(uint8_t id, const Bytes& key_material, const Bytes& salt, Bytes& data, bool encrypt,
                   const std::vector<size_t>& pieces = {SIZE_MAX}) {
  PeaArchiveInfo info;
  info.stream_algorithm = id;
  std::copy(salt.begin(), salt.end(), info.salt);
  PeaStreamState state;
  EXPECT_TRUE(pea_stream_setup(key_material.data(), key_material.size(), info, state));
  for (size_t at = 0, i = 0, n; at < data.size(); at += n, ++i) {
    n = std::min(pieces[i % pieces.size()], data.size() - at);
    (encrypt ? pea_stream_encrypt : pea_stream_decrypt)(data.data() + at, n, id, state);
  }
  uint8_t tag[kMaxCheckSize], verifier[2] = {uint8_t(info.verifier), uint8_t(info.verifier >> 8)};
  size_t tag_size = pea_stream_final(id, tag, state);
  EXPECT_FALSE(state.failed());
  return ToHex(verifier, 2) + " " + HexOrDash(data) + " " + ToHex(tag, tag_size);
}

// Modes 49 and 65 are EAX with AES-128 and a 16-byte nonce, AES-256 and a 32-byte nonce.
TEST(PeaCryptoTest, ModesMatchCryptodomeInPiecesOfAnyLength) {
  const Bytes km = Pattern(60, 3), salt = Pattern(kSaltSize, 4);
  // Cryptodome has no Whirlpool: mode 65's derivation comes from the library's PBKDF2.
  uint8_t wide[66];
  ASSERT_TRUE(crypto::Pbkdf2Whirlpool(km.data(), km.size(), salt.data(), kSaltSize, 1000, wide, sizeof wide));
  std::vector<std::pair<uint8_t, Bytes>> cases;
  std::string requests;
  for (uint8_t mode : kModes) {
    for (size_t length : {0, 1, 15, 16, 17, 1000, 100000}) {
      cases.emplace_back(mode, Pattern(length, length + mode));
      requests +=
          (mode == kModeAes256Eax ? "eax " + ToHex(wide, 32) + " " + ToHex(wide + 32, 32)
                                  : "pea" + std::to_string(mode) + " " + ToHex(km) + " " + ToHex(salt)) +
          " " + HexOrDash(cases.back().second) + "\n";
    }
  }
  std::vector<std::string> answers = AskCryptodome(requests);
  ASSERT_EQ(answers.size(), cases.size());
  for (size_t i = 0; i < answers.size(); ++i) {
    auto& [mode, plain] = cases[i];
    std::string expected = (mode == kModeAes256Eax ? ToHex(wide + 64, 2) + " " : "") + answers[i];
    for (size_t s = 0; s < kSplits.size(); ++s) {
      Bytes data = plain;
      EXPECT_EQ(Stream(mode, km, salt, data, true, kSplits[s]), expected) << int{mode} << "/" << plain.size();
      std::string opened = Stream(mode, km, salt, data, false, kSplits[(s + 1) % kSplits.size()]);
      EXPECT_EQ(opened.substr(opened.rfind(' ')), expected.substr(expected.rfind(' ')));
      EXPECT_EQ(data, plain);
    }
  }
}

TEST(PeaCryptoTest, KeyMaterialAndKeyFileCodes) {
  test::TempDir dir;
  const Bytes header = Pattern(kKeyHeaderSize, 0);
  const std::string file = test::RandomBytes(3000, 1), password(300, 'p');
  test::WriteFile(dir / "key", file);
  test::WriteFile(dir / "empty", "");
  PeaKeyMaterial km;
  ASSERT_EQ(km.Build(password.c_str(), header.data(), U16(dir / "key").c_str()), kOk);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(km.data()), km.size()),
            password.substr(0, 250) + std::string(header.begin(), header.end()) + file.substr(0, 2048));
  ASSERT_EQ(km.Build("", header.data(), U16(dir / "empty").c_str()), kOk);
  EXPECT_EQ(Bytes(km.data(), km.data() + km.size()), header);
  EXPECT_EQ(km.Build("pw", header.data(), U16(dir / "missing").c_str()), 0x01021101u);
  EXPECT_EQ(km.size(), 0u);
  EXPECT_EQ(km.Build("pw", header.data(), U16(dir.path().string()).c_str()), 0x01021101u);
  EXPECT_EQ(km.Build("pw", header.data(), u"/proc/self/mem"), 0x01031101u);  // opens; reading at 0 fails
}

TEST(PeaCryptoTest, KeysFollowPasswordKeyFileAndHeader) {
  test::TempDir dir;
  const std::string a = test::RandomBytes(3000, 5);
  test::WriteFile(dir / "a", a);
  test::WriteFile(dir / "b", a.substr(0, 2048) + "another tail");
  test::WriteFile(dir / "c", a.substr(0, 2047));
  test::WriteFile(dir / "empty", "");
  for (uint8_t mode : kModes) {
    auto seal = [&](const char* password, const char* key_file, uint8_t object_algorithm = 19) {
      Bytes header = {0xEA, 1, 0, 2, 0, 0x11, 0x10, 1, 0x13, 0, 0, 0, 'P', 'O', 'D', 0, 2, 0, mode, 0, 0, 0};
      header[19] = object_algorithm;
      PeaKeyMaterial km;
      EXPECT_EQ(km.Build(password, header.data(), key_file ? U16(dir / key_file).c_str() : nullptr), kOk);
      Bytes data = Pattern(64);
      return Stream(mode, Bytes(km.data(), km.data() + km.size()), Pattern(kSaltSize, 9), data, true);
    };
    const std::string bare = seal("", nullptr), changed = seal("", nullptr, 18);
    EXPECT_EQ(seal("", "empty"), bare);
    EXPECT_NE(seal("pw", nullptr), bare);
    EXPECT_NE(seal("", "a"), bare);
    EXPECT_EQ(seal("", "b"), seal("", "a"));  // only the first 2048 bytes count
    EXPECT_NE(seal("", "c"), seal("", "a"));
    EXPECT_NE(changed.substr(0, 4), bare.substr(0, 4));  // the verifier
    EXPECT_NE(changed.substr(changed.rfind(' ')), bare.substr(bare.rfind(' ')));
  }
}

TEST(PeaCryptoTest, ChecksumsPassBytesOtherIdsDoNothing) {
  const Bytes plain = Pattern(1000);
  uint32_t crc = crc32(0, plain.data(), plain.size());
  uint8_t crc_bytes[4] = {uint8_t(crc), uint8_t(crc >> 8), uint8_t(crc >> 16), uint8_t(crc >> 24)};
  for (uint8_t id : {0, 2, 50, 64}) {
    Bytes data = plain;
    std::string tag = " ";
    if (id == 2) tag += ToHex(crc_bytes, 4);
    EXPECT_EQ(Stream(id, {}, {}, data, true, {600, 400}), "0000 " + ToHex(plain) + tag) << int{id};
  }
}

TEST(PeaCryptoTest, StateWithoutItsKeysNeverPassesPlainText) {
  PeaArchiveInfo info;
  info.stream_algorithm = kModeAes128Eax;
  PeaStreamState fresh, finished, other;
  uint8_t tag[16];
  ASSERT_TRUE(pea_stream_setup(nullptr, 0, info, finished) && pea_stream_setup(nullptr, 0, info, other));
  EXPECT_EQ(pea_stream_final(kModeAes128Eax, tag, finished), 16u);  // drops the keys
  for (auto [state, mode] :
       {std::pair{&fresh, kModeAes128Eax}, {&finished, kModeAes128Eax}, {&other, kModeAes256Eax}}) {
    Bytes data = Pattern(100);
    pea_stream_encrypt(data.data(), data.size(), mode, *state);
    EXPECT_TRUE(data == Bytes(100) && state->failed()) << int{mode};
  }
}

}  // namespace
}  // namespace tx::pea
