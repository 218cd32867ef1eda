// Archives for certificate recipients and with signatures, end to end through the
// exports and the user's stores: the fullest recipient lists and one more, each recipient
// alone, strangers, key files others may read, signatures and single changed bytes, and
// the byte order checked with the openssl command.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <array>
#include <filesystem>
#include <string>
#include <vector>

#include "cert_keys.h"
#include "cert_store/cert_test_support.h"
#include "crypto/certificate.h"
#include "crypto/crc.h"
#include "scripted_ui.h"
#include "tessarex.h"
#include "ui/cert_selection.h"
#include "zip/zip_certs.h"

namespace tx::test {
namespace {

namespace fs = std::filesystem;
using Words = std::array<uint32_t, 15>;

constexpr uint32_t kNoKey = 0x00511301, kWrongPassword = 0x00411301, kBad = 0x00595202;

Words Options(uint32_t kind, uint32_t strong_flags, uint32_t cd_flags = 0, uint32_t signing = 0,
              uint32_t digest = 2, uint32_t method = 8) {
  return {0, 0, method, 6, cd_flags, kind, 32, 16, 16, strong_flags, signing, digest, 0, 0, 0};
}

crypto::Certificate Parse(const CertKey& k) {
  const std::string pem = ReadFile(k.cert);
  return std::move(*crypto::Certificate::Parse(reinterpret_cast<const uint8_t*>(pem.data()), pem.size()));
}

std::string Fingerprint(const CertKey& k) { return Parse(k).FingerprintHex(); }

class CertArchiveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dir_ / "in/sub");
    WriteFile(dir_ / "in/a.txt", RandomBytes(70000, 1));
    WriteFile(dir_ / "in/sub/b.bin", std::string(5000, 'b'));
    WriteFile(dir_ / "in/empty", "");
  }
  std::string Store(const std::string& name) const { return dir_ / ("data/tessarex/certificates/" + name); }
  // Replaces a store's contents: "my" gets certificate and key in one file (0600).
  void Fill(const std::string& store, const std::vector<const CertKey*>& keys, mode_t mode = 0600) {
    fs::remove_all(Store(store));
    fs::create_directories(Store(store));
    for (const CertKey* k : keys) {
      std::string content = ReadFile(k->cert);
      if (store == "my") content += ReadFile(k->key);
      const std::string path = Store(store) + "/" + k->name + ".pem";
      WriteFile(path, content);
      ::chmod(path.c_str(), mode);
    }
  }
  uint32_t Pack(const std::string& archive, const Words& o, const std::vector<const CertKey*>& recipients,
                const CertKey* signer = nullptr, const char* password = nullptr) {
    std::vector<std::string> ids;
    for (const CertKey* k : recipients) ids.push_back(Fingerprint(*k));
    std::string message;
    const StatusCode preset = ui::PresetCertificateChoice(ids, signer ? Fingerprint(*signer) : "", message);
    if (preset != 0) return preset;
    return zip_pack2(nullptr, archive.c_str(), (dir_ / "in/*").c_str(), password, o.data());
  }
  uint32_t Unpack(const std::string& archive, const char* password = nullptr) {
    fs::remove_all(dir_ / "out");
    fs::create_directories(dir_ / "out");
    const uint32_t options[2] = {0, 0};
    return zip_unpack2(nullptr, archive.c_str(), (dir_ / "out").c_str(), nullptr, password, options);
  }
  bool SameAsInput() const {
    return ReadFile(dir_ / "out/a.txt") == ReadFile(dir_ / "in/a.txt") &&
           ReadFile(dir_ / "out/sub/b.bin") == ReadFile(dir_ / "in/sub/b.bin") &&
           fs::exists(dir_ / "out/empty");
  }
  std::string List(const std::string& archive, uint32_t* code = nullptr) {
    std::vector<char> text(1 << 16);
    const uint32_t options[1] = {0};
    const uint32_t result = zip_list(nullptr, archive.c_str(), nullptr, text.data(), text.size(), options);
    if (code) *code = result;
    return text.data();
  }

  TempDir dir_;
  ScopedEnv xdg_{"XDG_DATA_HOME", (dir_ / "data").c_str()};
  ScriptedUi ui_;
};

// Every recipient of the fullest lists opens the archive with only its own key; others
// cannot; one recipient more is refused before any file is made.
TEST_F(CertArchiveTest, FullestRecipientListsWithAndWithoutPassword) {
  const CertKeys& keys = CertKeys::Get();
  struct Case {
    const std::vector<CertKey>* keys;
    size_t fit;
    uint32_t refused;
  };
  for (const Case& c : {Case{&keys.rsa1024, 25, zip::certs::kTooManyRecipients},
                        Case{&keys.rsa2048, 14, zip::certs::kTransportListFull}}) {
    std::vector<const CertKey*> all;
    for (const CertKey& k : *c.keys) all.push_back(&k);
    Fill("addressbook", all);
    Fill("my", {});
    const std::string over = dir_ / "over.zip";
    EXPECT_EQ(Pack(over, Options(12, 2), all), c.refused);
    EXPECT_FALSE(fs::exists(over));
    const CertKey* stranger = all.back();
    all.pop_back();
    ASSERT_EQ(all.size(), c.fit);

    for (bool with_password : {false, true}) {
      SCOPED_TRACE(with_password ? "password and recipients" : "recipients only");
      const std::string archive = dir_ / "r.zip";
      ASSERT_EQ(Pack(archive, Options(with_password ? 11 : 12, with_password ? 3 : 2, 2), all, nullptr,
                     with_password ? "pw" : nullptr),
                0u);
      for (size_t i = 0; i < all.size(); i += with_password ? 6 : 1) {
        Fill("my", {all[i]});
        ASSERT_EQ(Unpack(archive), 0u) << all[i]->name;
        EXPECT_TRUE(SameAsInput());
      }
      Fill("my", {stranger});
      EXPECT_EQ(Unpack(archive), with_password ? kWrongPassword : kNoKey);
      if (with_password) {
        fs::remove_all(Store("my"));
        EXPECT_EQ(Unpack(archive, "pw"), 0u);
        EXPECT_TRUE(SameAsInput());
      }
    }
  }
}

// Key wrapping with PKCS#1 v1.5 (flag 0x0100) and with OAEP, mixed key sizes, the key
// blob decrypted by the openssl command after its bytes are reversed, and the refusals.
TEST_F(CertArchiveTest, KeyWrappingPaddingsAndRefusals) {
  const CertKeys& keys = CertKeys::Get();
  const CertKey& big = keys.rsa4096[0];
  const CertKey& small = keys.rsa1024[3];
  Fill("addressbook", {&big, &small, &keys.ec});
  for (uint32_t flags : {0x0002u, 0x0102u}) {
    const std::string archive = dir_ / "w.zip";
    ASSERT_EQ(Pack(archive, Options(12, flags, 3), {&big, &small}), 0u);
    Fill("my", {&big});
    ASSERT_EQ(Unpack(archive), 0u);
    EXPECT_TRUE(SameAsInput());
    Fill("my", {&small});
    ASSERT_EQ(Unpack(archive), 0u);
    EXPECT_TRUE(SameAsInput());

    // The first entry's blob follows the recipient's key hash in the first member's header.
    const std::string bytes = ReadFile(archive);
    const crypto::Sha1Digest hash = Parse(big).PublicKeyHash();
    const size_t at = bytes.find(std::string(hash.begin(), hash.end()));
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(Le(bytes, at - 2, 2), 20u + 12 + 512);
    EXPECT_EQ(bytes.substr(at + 20, 12), std::string("\x01\x02\x00\x00\x03\x66\x00\x00\x00\xA4\x00\x00", 12));
    const std::string cipher = bytes.substr(at + 32, 512);
    WriteFile(dir_ / "blob.bin", std::string(cipher.rbegin(), cipher.rend()));
    std::string out;
    ASSERT_EQ(0, Peer("openssl pkeyutl -decrypt -inkey " + big.key + " -in " + (dir_ / "blob.bin") +
                          (flags & 0x0100 ? " -pkeyopt rsa_padding_mode:pkcs1"
                                          : " -pkeyopt rsa_padding_mode:oaep -pkeyopt rsa_oaep_md:sha1"),
                      &out));
    EXPECT_EQ(out.size(), 24u);
  }
  // A non-RSA recipient, and an unreadable-by-others key never used.
  EXPECT_EQ(Pack(dir_ / "ec.zip", Options(12, 2), {&keys.ec}), zip::certs::kRecipientNotRsa);
  EXPECT_FALSE(fs::exists(dir_ / "ec.zip"));
  ASSERT_EQ(Pack(dir_ / "w.zip", Options(11, 2), {&small}), 0u);
  Fill("my", {&small}, 0644);
  EXPECT_EQ(Unpack(dir_ / "w.zip"), 0x01306302u);
  EXPECT_FALSE(fs::exists(dir_ / "out/a.txt"));
}

// A key behind a passphrase opens the directory and every member after one question,
// when unpacking and when listing; a wrong passphrase ends the call.
TEST_F(CertArchiveTest, AKeyBehindAPassphraseIsAskedForOncePerCall) {
  const CertKey& k = CertKeys::Get().rsa1024[5];
  Fill("addressbook", {&k});
  const std::string archive = dir_ / "p.zip";
  ASSERT_EQ(Pack(archive, Options(12, 2, 3), {&k}), 0u);
  int status = 0;
  const std::string key =
      Shell("openssl pkey -in " + Quote(k.key) + " -aes256 -passout pass:open-sesame", &status);
  ASSERT_EQ(status, 0);
  Fill("my", {});
  const std::string mine = Store("my") + "/k.pem";
  WriteFile(mine, ReadFile(k.cert) + key);
  ::chmod(mine.c_str(), 0600);

  ui_.dialogs.AnswerPassword("open-sesame");
  ASSERT_EQ(Unpack(archive), 0u);
  EXPECT_TRUE(SameAsInput());
  EXPECT_EQ(ui_.dialogs.record().password_prompts, 1u);
  ui_.dialogs.AnswerPassword("open-sesame");
  uint32_t code = 1;
  EXPECT_NE(List(archive, &code).find("sub/b.bin"), std::string::npos);
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(ui_.dialogs.record().password_prompts, 2u);
  ui_.dialogs.AnswerPassword("wrong");
  EXPECT_EQ(Unpack(archive), 0x01306303u);
  EXPECT_FALSE(fs::exists(dir_ / "out/a.txt"));
}

std::string Bytes(const std::string& s, size_t at, size_t n) { return s.substr(at, n); }

// Where a plain directory and its digital signature record lie.
struct DirectorySpan {
  size_t offset, size, record;
};
DirectorySpan FindDirectory(const std::string& bytes) {
  const size_t end = bytes.rfind(std::string("PK\x05\x06", 4));
  const size_t size = Le(bytes, end + 12, 4), offset = Le(bytes, end + 16, 4);
  const size_t record = bytes.rfind(std::string("PK\x05\x05", 4), end);
  return {offset, size, record};
}

// Signed members and a signed directory verify; one changed byte in a member, the
// directory or the signature is reported; the openssl command checks the signature.
TEST_F(CertArchiveTest, SignaturesVerifyAndEveryChangedByteIsReported) {
  const CertKey& signer = CertKeys::Get().rsa2048[3];
  Fill("my", {&signer});
  const std::string archive = dir_ / "s.zip";
  ASSERT_EQ(Pack(archive, Options(0, 0, 0, 3, 2, 0), {}, &signer), 0u);
  ASSERT_EQ(Unpack(archive), 0u);
  EXPECT_TRUE(SameAsInput());
  uint32_t code = 1;
  EXPECT_NE(List(archive, &code).find("\r\nHeader  : Signature (OK)\r\n"), std::string::npos);
  EXPECT_EQ(code, 0u);
  std::vector<char> report(4096);
  EXPECT_EQ(tessarex_zip_verify(nullptr, archive.c_str(), nullptr, report.data(), report.size(), 0), 0u);
  const std::string text = report.data();
  EXPECT_NE(
      text.find(
          "Directory: Signature (OK), signed by CN=r2048-3, O=Tessarex Tests (in your certificate stores)\n"),
      std::string::npos)
      << "[" << text << "]";
  EXPECT_NE(text.find("Member a.txt: Signature (OK)"), std::string::npos) << "[" << text << "]";
  {
    // Members are checked in a private folder of TMPDIR that goes with the call.
    fs::create_directories(dir_ / "tmp");
    ScopedEnv tmp("TMPDIR", (dir_ / "tmp").c_str());
    EXPECT_EQ(tessarex_zip_verify(nullptr, archive.c_str(), nullptr, report.data(), report.size(), 0), 0u);
    EXPECT_TRUE(fs::is_empty(dir_ / "tmp"));
  }
  EXPECT_NE(text.find("(in your certificate stores)"), std::string::npos) << "[" << text << "]";
  Fill("my", {});
  EXPECT_EQ(tessarex_zip_verify(nullptr, archive.c_str(), nullptr, report.data(), report.size(), 0), 0u);
  EXPECT_NE(std::string(report.data()).find("(not trusted)"), std::string::npos);
  std::string cli;
  EXPECT_EQ(0, Peer(std::string(TX_CLI_PATH) + " zip verify " + Quote(archive), &cli));
  EXPECT_NE(cli.find("Member sub/b.bin: Signature (OK), signed by CN=r2048-3"), std::string::npos) << cli;

  // The directory signature as the openssl command sees it: SHA-1 over the block, PKCS#1
  // v1.5, the signature stored least significant byte first.
  const std::string bytes = ReadFile(archive);
  const DirectorySpan cd = FindDirectory(bytes);
  ASSERT_NE(cd.record, std::string::npos);
  const std::string block = Bytes(bytes, cd.offset, cd.record - cd.offset);
  WriteFile(dir_ / "block.bin", block);
  const size_t signature_data = cd.record + 8, data_size = Le(bytes, cd.record + 4, 2) - 2;
  const size_t signature_size = Le(bytes, signature_data + data_size - 258, 2);
  ASSERT_EQ(signature_size, 256u);
  const std::string signature = Bytes(bytes, signature_data + data_size - 256, 256);
  WriteFile(dir_ / "sig.bin", std::string(signature.rbegin(), signature.rend()));
  std::string out;
  EXPECT_EQ(0, Peer("openssl dgst -sha1 -binary -out " + (dir_ / "d.bin") + " " + (dir_ / "block.bin") +
                        " && openssl pkeyutl -verify -certin -inkey " + signer.cert +
                        " -pkeyopt digest:sha1 -in " + (dir_ / "d.bin") + " -sigfile " + (dir_ / "sig.bin"),
                    &out))
      << out;

  auto changed = [&](size_t at) {
    std::string copy = bytes;
    copy[at] = static_cast<char>(copy[at] ^ 0x01);
    const std::string path = dir_ / "changed.zip";
    WriteFile(path, copy);
    return path;
  };
  // A byte of the directory (the first member's DOS time) and of the signature itself.
  EXPECT_EQ(Unpack(changed(cd.offset + 12)), kBad);
  EXPECT_EQ(Unpack(changed(signature_data + data_size - 100)), kBad);
  List(changed(cd.offset + 12), &code);
  EXPECT_EQ(code, kBad);
  EXPECT_EQ(
      tessarex_zip_verify(nullptr, changed(cd.offset + 12).c_str(), nullptr, report.data(), report.size(), 0),
      kBad);
  EXPECT_NE(std::string(report.data()).find("Directory: Signature (BAD 0x00595202)"), std::string::npos);
  EXPECT_EQ(1, Peer(std::string(TX_CLI_PATH) + " zip verify " + Quote(changed(cd.offset + 12)), &cli));
  EXPECT_NE(cli.find("Signature (BAD 0x00595202)"), std::string::npos) << cli;
}

// A member signed alone (MD5): changing a byte of its data, with the CRC mended so that
// only the signature can tell, is reported with the signature's code.
TEST_F(CertArchiveTest, MemberSignatureCatchesWhatTheCrcCannot) {
  const CertKey& signer = CertKeys::Get().rsa1024[4];
  Fill("my", {&signer});
  WriteFile(dir_ / "one.txt", "signed member data");
  const std::string archive = dir_ / "m.zip";
  std::string message;
  ASSERT_EQ(ui::PresetCertificateChoice({}, Fingerprint(signer), message), 0u);
  const Words o = Options(0, 0, 0, 2, 1, 0);
  ASSERT_EQ(zip_pack1(nullptr, archive.c_str(), (dir_ / "one.txt").c_str(), nullptr, o.data()), 0u);
  const uint32_t options[2] = {0, 0};
  fs::create_directories(dir_ / "out");
  ASSERT_EQ(zip_unpack1(nullptr, archive.c_str(), (dir_ / "out").c_str(), nullptr, options), 0u);
  EXPECT_EQ(ReadFile(dir_ / "out/one.txt"), "signed member data");

  std::string bytes = ReadFile(archive);
  const size_t data = bytes.find("signed member data");
  ASSERT_NE(data, std::string::npos);
  bytes[data] = 'S';
  std::string crc;
  const uint32_t mended = ~crypto::Crc32Update(0xFFFFFFFFu, bytes.data() + data, 18);
  for (int i = 0; i < 4; ++i) crc += static_cast<char>(mended >> (8 * i));
  bytes.replace(14, 4, crc);
  const DirectorySpan cd = FindDirectory(bytes);
  bytes.replace(cd.offset + 16, 4, crc);
  WriteFile(archive, bytes);
  fs::remove_all(dir_ / "out");
  fs::create_directories(dir_ / "out");
  EXPECT_EQ(zip_unpack1(nullptr, archive.c_str(), (dir_ / "out").c_str(), nullptr, options), kBad);
  EXPECT_FALSE(fs::exists(dir_ / "out/one.txt"));
}

// Updates keep member signatures checkable: the signers' store moves to the first record
// left, two archives' stores are merged, a packed directory keeps recipients and store.
TEST_F(CertArchiveTest, UpdatesKeepSignersAndRecipients) {
  const CertKey& first = CertKeys::Get().rsa1024[5];
  const CertKey& second = CertKeys::Get().rsa1024[6];
  Fill("my", {&first, &second});
  Fill("addressbook", {});
  const std::string a = dir_ / "a.zip", b = dir_ / "b.zip";
  ASSERT_EQ(Pack(a, Options(0, 0, 0, 2, 2), {}, &first), 0u);
  const uint32_t update[2] = {0, 0};
  ASSERT_EQ(zip_delete(nullptr, a.c_str(), nullptr, "a.txt", nullptr, update), 0u);
  ASSERT_EQ(Unpack(a), 0u);
  EXPECT_TRUE(fs::exists(dir_ / "out/sub/b.bin"));
  EXPECT_FALSE(fs::exists(dir_ / "out/a.txt"));

  WriteFile(dir_ / "in/a.txt", "replaced by the second signer");
  ASSERT_EQ(Pack(b, Options(0, 0, 0, 2, 1), {}, &second), 0u);
  ASSERT_EQ(zip_add(nullptr, a.c_str(), b.c_str(), nullptr, "a.txt", nullptr, update), 0u);
  ASSERT_EQ(Unpack(a), 0u);
  EXPECT_EQ(ReadFile(dir_ / "out/a.txt"), "replaced by the second signer");
  std::vector<char> report(4096);
  EXPECT_EQ(tessarex_zip_verify(nullptr, a.c_str(), nullptr, report.data(), report.size(), 0), 0u);
  EXPECT_NE(std::string(report.data()).find("Member a.txt: Signature (OK), signed by CN=r1024-6"),
            std::string::npos)
      << report.data();

  // Recipients, an encrypted directory and signed members.
  ASSERT_EQ(Pack(b, Options(12, 2, 3, 2, 2), {&second}, &first), 0u);
  ASSERT_EQ(zip_delete(nullptr, b.c_str(), nullptr, "a.txt", nullptr, update), 0u);
  Fill("my", {&second});
  ASSERT_EQ(Unpack(b), 0u);
  EXPECT_TRUE(fs::exists(dir_ / "out/sub/b.bin"));
}

// A signer without an RSA key is refused before any file is made.
TEST_F(CertArchiveTest, SignerMustHoldAnRsaKey) {
  Fill("my", {&CertKeys::Get().ec});
  const std::string archive = dir_ / "ec.zip";
  EXPECT_EQ(Pack(archive, Options(0, 0, 0, 1), {}, &CertKeys::Get().ec), zip::certs::kSignerNotRsa);
  EXPECT_FALSE(fs::exists(archive));
}

// Members signed on the second packing thread carry the same signatures as on one thread:
// the archives are the same bytes, and every signature verifies.
TEST_F(CertArchiveTest, SignedArchivesDoNotDependOnTheThreadCount) {
  const CertKey& signer = CertKeys::Get().rsa2048[3];
  Fill("my", {&signer});
  fs::create_directories(dir_ / "in/many");
  for (int i = 0; i < 40; ++i)
    WriteFile(dir_ / ("in/many/f" + std::to_string(i)), RandomBytes(3000 + 997 * i, 100 + i));
  std::string bytes[2];
  for (int threads = 1; threads <= 2; ++threads) {
    ScopedEnv count("TESSAREX_THREADS", threads == 1 ? "1" : "2");
    const std::string archive = dir_ / ("t" + std::to_string(threads) + ".zip");
    ASSERT_EQ(Pack(archive, Options(0, 0, 0, 3, 1), {}, &signer), 0u);
    std::vector<char> report(1 << 14);
    EXPECT_EQ(tessarex_zip_verify(nullptr, archive.c_str(), nullptr, report.data(), report.size(), 0), 0u);
    EXPECT_NE(std::string(report.data()).find("Member many/f39: Signature (OK)"), std::string::npos);
    bytes[threads - 1] = ReadFile(archive);
  }
  EXPECT_TRUE(bytes[0] == bytes[1]) << "the archives differ";
}

}  // namespace
}  // namespace tx::test
