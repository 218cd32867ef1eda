// The certificate records below the archive: key blobs, signatures and certificate bags,
// byte order checked against the openssl command, recipient lists and key recovery.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <algorithm>
#include <cstring>

#include "cert_keys.h"
#include "crypto/cert_bag.h"
#include "crypto/certificate.h"
#include "crypto/key_transport.h"
#include "crypto/rsa_signature.h"
#include "zip/zip_certs.h"

namespace tx {
namespace {

using test::CertKey;
using test::CertKeys;

crypto::Certificate Load(const CertKey& k, bool with_key) {
  const std::string pem = test::ReadFile(k.cert);
  auto c = crypto::Certificate::Parse(reinterpret_cast<const uint8_t*>(pem.data()), pem.size());
  if (!c) throw std::runtime_error("certificate does not parse");
  if (with_key) {
    const std::string key = test::ReadFile(k.key);
    BIO* bio = BIO_new_mem_buf(key.data(), static_cast<int>(key.size()));
    EVP_PKEY* pkey = PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr);
    BIO_free(bio);
    if (!c->AttachPrivateKey(pkey)) throw std::runtime_error("key does not match");
  }
  return std::move(*c);
}

std::string Bytes(const std::vector<uint8_t>& v) { return {v.begin(), v.end()}; }

const uint8_t kMasterKey[24] = {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12,
                                13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24};

TEST(KeyBlob, FramesLittleEndianCiphertextThatOpensslDecrypts) {
  const CertKey& k = CertKeys::Get().rsa2048[0];
  crypto::Certificate c = Load(k, true);
  test::TempDir dir;
  for (bool oaep : {true, false}) {
    std::vector<uint8_t> blob;
    ASSERT_TRUE(crypto::WrapSessionKey(X509_get0_pubkey(c.x509()), kMasterKey, 24, oaep, blob));
    ASSERT_EQ(blob.size(), 12u + 256);
    const uint8_t header[12] = {1, 2, 0, 0, 0x03, 0x66, 0, 0, 0x00, 0xA4, 0, 0};
    EXPECT_EQ(0, std::memcmp(blob.data(), header, 12));
    // Reversed back to big-endian, the ciphertext is what openssl pkeyutl decrypts.
    std::string cipher(blob.rbegin(), blob.rend() - 12);
    test::WriteFile(dir / "c.bin", cipher);
    std::string out;
    std::string command = "openssl pkeyutl -decrypt -inkey " + k.key + " -in " + (dir / "c.bin");
    command.append(oaep
                       ? " -pkeyopt rsa_padding_mode:oaep -pkeyopt rsa_oaep_md:sha1 -pkeyopt rsa_mgf1_md:sha1"
                       : " -pkeyopt rsa_padding_mode:pkcs1");
    ASSERT_EQ(0, test::Peer(command, &out)) << out;
    EXPECT_EQ(out, std::string(reinterpret_cast<const char*>(kMasterKey), 24));

    uint8_t key[24] = {};
    EXPECT_TRUE(crypto::UnwrapSessionKey(c.private_key(), blob.data(), blob.size(), oaep, key));
    EXPECT_EQ(0, std::memcmp(key, kMasterKey, 24));
    // The other padding, another key or a flipped byte all fail alike.
    EXPECT_FALSE(crypto::UnwrapSessionKey(c.private_key(), blob.data(), blob.size(), !oaep, key));
    crypto::Certificate other = Load(CertKeys::Get().rsa2048[1], true);
    EXPECT_FALSE(crypto::UnwrapSessionKey(other.private_key(), blob.data(), blob.size(), oaep, key));
    blob[100] ^= 1;
    EXPECT_FALSE(crypto::UnwrapSessionKey(c.private_key(), blob.data(), blob.size(), oaep, key));
  }
}

TEST(RsaSignature, LittleEndianAndCheckedByOpenssl) {
  const CertKey& k = CertKeys::Get().rsa1024[0];
  crypto::Certificate c = Load(k, true);
  test::TempDir dir;
  const uint8_t digest[20] = {0xDE, 0xAD, 0xBE, 0xEF, 5,  6,  7,  8,  9,  10,
                              11,   12,   13,   14,   15, 16, 17, 18, 19, 20};
  for (auto [kind, size, name] : {std::tuple{crypto::SignedDigest::kSha1, 20, "sha1"},
                                  std::tuple{crypto::SignedDigest::kMd5, 16, "md5"}}) {
    std::vector<uint8_t> signature;
    ASSERT_TRUE(crypto::SignDigest(c.private_key(), kind, digest, size, signature));
    ASSERT_EQ(signature.size(), 128u);
    test::WriteFile(dir / "d.bin", std::string(reinterpret_cast<const char*>(digest), size));
    test::WriteFile(dir / "s.bin", std::string(signature.rbegin(), signature.rend()));
    std::string out;
    EXPECT_EQ(0, test::Peer("openssl pkeyutl -verify -certin -inkey " + k.cert + " -in " + (dir / "d.bin") +
                                " -sigfile " + (dir / "s.bin") + " -pkeyopt digest:" + name,
                            &out))
        << out;
    EXPECT_TRUE(crypto::VerifyDigest(X509_get0_pubkey(c.x509()), kind, digest, size, signature.data(),
                                     signature.size()));
    signature[0] ^= 0x80;
    EXPECT_FALSE(crypto::VerifyDigest(X509_get0_pubkey(c.x509()), kind, digest, size, signature.data(),
                                      signature.size()));
  }
}

TEST(CertificateBag, RoundTripsAndIsReadByItsOwnLength) {
  crypto::CertificateList two;
  two.push_back(Load(CertKeys::Get().rsa1024[0], false));
  two.push_back(Load(CertKeys::Get().rsa2048[0], false));
  std::vector<uint8_t> bag;
  ASSERT_TRUE(crypto::WriteCertificateBag(two, bag));
  test::TempDir dir;
  test::WriteFile(dir / "bag.p7b", Bytes(bag));
  std::string out;
  ASSERT_EQ(0, test::Peer("openssl pkcs7 -inform DER -print_certs -noout -in " + (dir / "bag.p7b"), &out));
  EXPECT_NE(out.find("r1024-0"), std::string::npos);
  EXPECT_NE(out.find("r2048-0"), std::string::npos);
  // Trailing bytes (the u32 some writers add) do not count; a cut bag does not parse.
  std::vector<uint8_t> padded = bag;
  padded.insert(padded.end(), {0, 0, 0, 0});
  EXPECT_EQ(crypto::BagLength(padded.data(), padded.size()), bag.size());
  crypto::CertificateList read;
  ASSERT_TRUE(crypto::ReadCertificateBag(padded.data(), padded.size(), read));
  ASSERT_EQ(read.size(), 2u);
  EXPECT_EQ(read[1].Fingerprint(), two[1].Fingerprint());
  EXPECT_EQ(crypto::BagLength(bag.data(), bag.size() - 4), 0u);
  EXPECT_FALSE(crypto::ReadCertificateBag(bag.data(), bag.size() - 4, read));
}

std::unique_ptr<zip::ZipArchiveState> NewState() { return std::make_unique<zip::ZipArchiveState>(); }

crypto::CertificateList LoadAll(const std::vector<CertKey>& keys, size_t count, bool with_key) {
  crypto::CertificateList list;
  for (size_t i = 0; i < count; ++i) list.push_back(Load(keys[i], with_key));
  return list;
}

TEST(Recipients, ListLimitsAndEveryRecipientRecoversTheKey) {
  const CertKeys& keys = CertKeys::Get();
  struct Case {
    const std::vector<CertKey>* keys;
    size_t fit;
    size_t modulus;
  };
  for (const Case& c : {Case{&keys.rsa1024, 25, 128}, Case{&keys.rsa2048, 14, 256}}) {
    auto state = NewState();
    crypto::CertificateList over = LoadAll(*c.keys, c.fit + 1, false);
    const StatusCode refused = zip::BuildRecipients(over, kMasterKey, 0, true, *state);
    EXPECT_EQ(refused, c.fit == 25 ? zip::certs::kTooManyRecipients : zip::certs::kTransportListFull);
    EXPECT_EQ(state->strong_transport_length, 0u);

    over.pop_back();
    ASSERT_EQ(zip::BuildRecipients(over, kMasterKey, 0x0100, true, *state), kOk);
    EXPECT_EQ(state->strong_transport_length, 8 + c.fit * (34 + c.modulus));
    EXPECT_EQ(test::Le(std::string(reinterpret_cast<char*>(state->strong_transport), 8), 0, 4), c.fit);
    EXPECT_EQ(state->recipient_data_length, 8 + 20 * c.fit);
    EXPECT_EQ(0, std::memcmp(state->recipient_data, state->strong_transport, 8));
    EXPECT_GT(state->recipient_list_length, 0u);

    // Each recipient alone, then a stranger, then a key that must not be used.
    const size_t probes[] = {0, c.fit - 1};
    for (size_t i : probes) {
      crypto::CertificateList mine;
      mine.push_back(Load((*c.keys)[i], false));
      auto loader = [&](crypto::Certificate& cert) {
        const std::string pem = test::ReadFile((*c.keys)[i].key);
        BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
        EVP_PKEY* pkey = PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr);
        BIO_free(bio);
        return cert.AttachPrivateKey(pkey) ? kOk : StatusCode{0x01306303};
      };
      uint8_t key[24] = {};
      bool found = false;
      ASSERT_EQ(zip::RecoverWith(mine, loader, state->strong_transport, state->strong_transport_length,
                                 0x0100, key, found),
                kOk);
      EXPECT_TRUE(found);
      EXPECT_EQ(0, std::memcmp(key, kMasterKey, 24));
    }
    crypto::CertificateList stranger;
    stranger.push_back(Load((*c.keys)[c.fit], true));
    uint8_t key[24] = {};
    bool found = true;
    auto never = [](crypto::Certificate&) { return StatusCode{0x01306302}; };
    EXPECT_EQ(zip::RecoverWith(stranger, never, state->strong_transport, state->strong_transport_length,
                               0x0100, key, found),
              kOk);
    EXPECT_FALSE(found);
    crypto::CertificateList unsafe;
    unsafe.push_back(Load((*c.keys)[0], false));
    EXPECT_EQ(zip::RecoverWith(unsafe, never, state->strong_transport, state->strong_transport_length, 0x0100,
                               key, found),
              0x01306302u);
  }
  auto state = NewState();
  crypto::CertificateList ec;
  ec.push_back(Load(keys.ec, false));
  EXPECT_EQ(zip::BuildRecipients(ec, kMasterKey, 0, false, *state), zip::certs::kRecipientNotRsa);
  EXPECT_EQ(zip::BuildRecipients({}, kMasterKey, 0, false, *state), zip::certs::kNoRecipient);
}

TEST(SignatureData, LayoutVerificationAndEveryDamage) {
  const CertKey& k = CertKeys::Get().rsa2048[2];
  zip::Signer signer;
  signer.certificate = std::make_unique<crypto::Certificate>(Load(k, true));
  signer.hash_id = zip::kHashSha1;
  auto state = NewState();
  state->signing_flags = 1;
  ASSERT_EQ(zip::PrepareSigner(signer, *state), kOk);
  const std::vector<uint8_t> issuer = signer.certificate->IssuerDer();
  std::vector<uint8_t> serial = signer.certificate->Serial();
  if (serial[0] & 0x80) serial.insert(serial.begin(), 0);
  const std::string placeholder(reinterpret_cast<char*>(state->cd_signature), state->cd_signature_length);
  const size_t id = issuer.size() + serial.size() + 16;
  ASSERT_EQ(placeholder.size(), 4 + id + 2);
  EXPECT_EQ(test::Le(placeholder, 0, 2), 0x8004u);
  EXPECT_EQ(test::Le(placeholder, 2, 2), id);
  EXPECT_EQ(test::Le(placeholder, 4, 4), id - 4);
  EXPECT_EQ(test::Le(placeholder, 8, 4), id - 4);
  EXPECT_EQ(placeholder.substr(16, issuer.size()), Bytes(issuer));
  // The serial least significant byte first.
  EXPECT_EQ(placeholder.substr(20 + issuer.size(), serial.size()),
            std::string(serial.rbegin(), serial.rend()));
  EXPECT_EQ(test::Le(placeholder, placeholder.size() - 2, 2), 0u);

  uint8_t digest[20];
  for (int i = 0; i < 20; ++i) digest[i] = static_cast<uint8_t>(i * 7);
  uint8_t data[1024];
  uint32_t length = 0;
  ASSERT_EQ(zip::SignInto(signer, digest, data, sizeof data, length), kOk);
  ASSERT_EQ(length, placeholder.size() + 256);
  const uint8_t* store = state->certificate_store;
  const size_t store_length = state->certificate_store_length;
  EXPECT_EQ(zip::VerifySignatureData(store, store_length, data, length, 0x8004, digest, 20), kOk);
  EXPECT_EQ(zip::VerifySignatureData(store, store_length, data, length, 0x8003, digest, 16),
            zip::certs::kHashIdMismatch);
  EXPECT_EQ(zip::VerifySignatureData(store, 0, data, length, 0x8004, digest, 20), 0x00515201u);
  digest[3] ^= 1;
  EXPECT_EQ(zip::VerifySignatureData(store, store_length, data, length, 0x8004, digest, 20),
            zip::certs::kSignatureBad);
  digest[3] ^= 1;
  data[length - 10] ^= 1;
  EXPECT_EQ(zip::VerifySignatureData(store, store_length, data, length, 0x8004, digest, 20),
            zip::certs::kSignatureBad);
  data[length - 10] ^= 1;
  data[20] ^= 1;  // inside the issuer: no certificate of the store has it
  EXPECT_EQ(zip::VerifySignatureData(store, store_length, data, length, 0x8004, digest, 20), 0x01305205u);
  data[20] ^= 1;
  EXPECT_EQ(zip::VerifySignatureData(store, store_length, data, length - 1, 0x8004, digest, 20), 0x0130520Au);

  zip::Signer ec;
  ec.certificate = std::make_unique<crypto::Certificate>(Load(CertKeys::Get().ec, true));
  ec.hash_id = zip::kHashMd5;
  EXPECT_EQ(zip::PrepareSigner(ec, *state), zip::certs::kSignerNotRsa);
}

TEST(StoreMerge, AddsTheSecondStoresCertificatesOnce) {
  crypto::CertificateList a, b;
  a.push_back(Load(CertKeys::Get().rsa1024[1], false));
  b.push_back(Load(CertKeys::Get().rsa1024[1], false));
  b.push_back(Load(CertKeys::Get().rsa1024[2], false));
  std::vector<uint8_t> bag_a, bag_b;
  ASSERT_TRUE(crypto::WriteCertificateBag(a, bag_a));
  ASSERT_TRUE(crypto::WriteCertificateBag(b, bag_b));
  uint8_t out[8192];
  uint32_t length = 0;
  ASSERT_EQ(zip::MergeStores(bag_a.data(), bag_a.size(), bag_b.data(), bag_b.size(), out, sizeof out, length),
            kOk);
  crypto::CertificateList merged;
  ASSERT_TRUE(crypto::ReadCertificateBag(out, length, merged));
  EXPECT_EQ(merged.size(), 2u);
  ASSERT_EQ(zip::MergeStores(nullptr, 0, bag_b.data(), bag_b.size(), out, sizeof out, length), kOk);
  EXPECT_EQ(std::string(out, out + length), Bytes(bag_b));
}

}  // namespace
}  // namespace tx
