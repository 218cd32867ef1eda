#include "zip/zip_certs.h"

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "crypto/cert_bag.h"
#include "crypto/certificate.h"
#include "crypto/key_transport.h"
#include "crypto/rsa_signature.h"
#include "crypto/trust.h"
#include "frame/bytes.h"
#include "frame/random.h"
#include "platform/system.h"
#include "ui/cert_selection.h"
#include "ui/dialogs.h"
#include "ui/display_text.h"
#include "ui/prompts.h"
#include "ui/texts.h"
#include "zip/zip_strong.h"

namespace tx::zip {

namespace {

using certs::Condition;
using certs::Provider;
using frame::LoadU16;
using frame::LoadU32;
using frame::StoreU16;
using frame::StoreU32;

constexpr uint32_t kFlagPassword = 0x0001;
constexpr uint32_t kFlagNoOaep = 0x0100;
constexpr uint16_t kHashSha1Id = 0x8004;
constexpr size_t kHashSize = 20;
constexpr size_t kSessionKey = 24;
// The picker's codes are reported in the provider class.
constexpr StatusCode kSelectionBase = 0x01300000;
// A certificate of "my" whose key is not there.
constexpr StatusCode kNoPrivateKey = 0x01306301;

bool IsSignedDigest(uint32_t id) { return id == kHashMd5 || id == kHashSha1; }
crypto::SignedDigest KindOf(uint32_t id) {
  return id == kHashMd5 ? crypto::SignedDigest::kMd5 : crypto::SignedDigest::kSha1;
}
size_t DigestSize(uint32_t id) { return id == kHashMd5 ? 16 : 20; }
const EVP_MD* MdOf(uint32_t id) { return id == kHashMd5 ? EVP_md5() : EVP_sha1(); }

// The serial as the signature data holds it: the integer's two's-complement bytes, least
// significant first (a positive number whose top bit is set keeps its 0x00).
std::vector<uint8_t> SerialLittleEndian(const crypto::Certificate& c) {
  std::vector<uint8_t> serial = c.Serial();
  if (!serial.empty() && (serial[0] & 0x80) != 0) serial.insert(serial.begin(), 0);
  if (serial.empty()) serial.push_back(0);
  std::reverse(serial.begin(), serial.end());
  return serial;
}

// Serial numbers compared as numbers: writers differ on the sign byte.
bool SameSerial(const uint8_t* little_endian, size_t size, const crypto::Certificate& c) {
  while (size > 0 && little_endian[size - 1] == 0) --size;
  std::vector<uint8_t> big = c.Serial();
  size_t skip = 0;
  while (skip < big.size() && big[skip] == 0) ++skip;
  if (big.size() - skip != size) return false;
  for (size_t i = 0; i < size; ++i)
    if (big[big.size() - 1 - i] != little_endian[i]) return false;
  return true;
}

// The id block of signature data: issuer and serial of the signer's certificate.
struct SignatureId {
  const uint8_t* issuer = nullptr;
  size_t issuer_size = 0;
  const uint8_t* serial = nullptr;
  size_t serial_size = 0;
  size_t end = 0;  // where the signature-length field starts
};

StatusCode ParseSignatureId(const uint8_t* data, size_t size, SignatureId& id) {
  if (size < 4 + 14) return Provider(place::kVerification, 0x02);
  const size_t id_size = LoadU16(data + 2);
  if (id_size < 12 || LoadU32(data + 4) + uint64_t{4} != id_size || id_size > size - 4)
    return Provider(place::kVerification, 0x02);
  const uint8_t* block = data + 4;
  const size_t issuer_size = LoadU32(block + 8);
  if (issuer_size > id_size - 12) return Provider(place::kVerification, 0x03);
  const size_t at = 12 + issuer_size;
  if (id_size - at < 4) return Provider(place::kVerification, 0x04);
  const size_t serial_size = LoadU32(block + at);
  if (serial_size > id_size - at - 4) return Provider(place::kVerification, 0x04);
  id.issuer = block + 12;
  id.issuer_size = issuer_size;
  id.serial = block + at + 4;
  id.serial_size = serial_size;
  id.end = 4 + id_size;
  return kOk;
}

// The certificate of a bag that the id names.
const crypto::Certificate* FindSigner(const crypto::CertificateList& bag, const SignatureId& id) {
  for (const crypto::Certificate& c : bag) {
    const std::vector<uint8_t> issuer = c.IssuerDer();
    if (issuer.size() == id.issuer_size && std::equal(issuer.begin(), issuer.end(), id.issuer) &&
        SameSerial(id.serial, id.serial_size, c))
      return &c;
  }
  return nullptr;
}

// Signature data up to its signature-length field, with `signature` after it.
StatusCode WriteSignatureData(const crypto::Certificate& c, uint32_t hash_id, const uint8_t* signature,
                              size_t signature_size, uint8_t* out, size_t capacity, uint32_t& length,
                              StatusCode no_room, StatusCode no_room_signature) {
  const std::vector<uint8_t> issuer = c.IssuerDer();
  const std::vector<uint8_t> serial = SerialLittleEndian(c);
  const size_t id_size = issuer.size() + serial.size() + 16;
  if (issuer.empty() || id_size > 0xFFFF || 4 + id_size > capacity) return no_room;
  if (capacity - 4 - id_size < 2 + signature_size || signature_size > 0xFFFF) return no_room_signature;
  uint8_t* p = out;
  StoreU16(p, static_cast<uint16_t>(hash_id)), p += 2;
  StoreU16(p, static_cast<uint16_t>(id_size)), p += 2;
  StoreU32(p, static_cast<uint32_t>(id_size - 4)), p += 4;
  StoreU32(p, static_cast<uint32_t>(id_size - 4)), p += 4;
  StoreU32(p, static_cast<uint32_t>(issuer.size())), p += 4;
  std::memcpy(p, issuer.data(), issuer.size()), p += issuer.size();
  StoreU32(p, static_cast<uint32_t>(serial.size())), p += 4;
  std::memcpy(p, serial.data(), serial.size()), p += serial.size();
  StoreU16(p, static_cast<uint16_t>(signature_size)), p += 2;
  if (signature_size > 0) std::memcpy(p, signature, signature_size), p += signature_size;
  length = static_cast<uint32_t>(p - out);
  return kOk;
}

bool CopyBag(const std::vector<uint8_t>& bag, uint8_t* out, size_t capacity, uint32_t& length) {
  if (bag.size() > capacity) return false;
  std::memcpy(out, bag.data(), bag.size());
  length = static_cast<uint32_t>(bag.size());
  return true;
}

bool InUserStores(const crypto::Certificate& c) {
  const crypto::Sha1Digest print = c.Fingerprint();
  crypto::CertificateList mine, others;
  ui::OpenPersonalStore(mine);
  ui::OpenAddressBook(others);
  for (const crypto::CertificateList* list : {&mine, &others})
    for (const crypto::Certificate& known : *list)
      if (known.Fingerprint() == print) return true;
  return false;
}

}  // namespace

StatusCode BuildRecipients(const crypto::CertificateList& recipients, const uint8_t* master_key,
                           uint32_t flags, bool with_list, ZipArchiveState& state) {
  state.strong_transport_length = state.recipient_data_length = state.recipient_list_length = 0;
  if (recipients.empty()) return certs::kNoRecipient;
  // Refused whole rather than cut short: an archive missing a chosen recipient would be
  // found out only by that recipient.
  if (recipients.size() > kMaxRecipients) return certs::kTooManyRecipients;
  size_t list = 0;
  for (const crypto::Certificate& c : recipients) {
    if (!c.IsRsa()) return certs::kRecipientNotRsa;
    list += 2 + kHashSize + crypto::kKeyBlobHeader + c.ModulusBytes();
  }
  if (list > kMaxTransportList) return certs::kTransportListFull;

  uint8_t* transport = state.strong_transport;
  StoreU32(transport, static_cast<uint32_t>(recipients.size()));
  StoreU16(transport + 4, kHashSha1Id);
  StoreU16(transport + 6, kHashSize);
  std::memcpy(state.recipient_data, transport, 8);
  size_t at = 8;
  std::vector<uint8_t> blob;
  for (size_t i = 0; i < recipients.size(); ++i) {
    const crypto::Certificate& c = recipients[i];
    EVP_PKEY* key = X509_get0_pubkey(c.x509());
    if (!crypto::WrapSessionKey(key, master_key, kSessionKey, (flags & kFlagNoOaep) == 0, blob))
      return Provider(place::kRecipients, 0x05);
    const crypto::Sha1Digest hash = c.PublicKeyHash();
    StoreU16(transport + at, static_cast<uint16_t>(kHashSize + blob.size()));
    std::memcpy(transport + at + 2, hash.data(), kHashSize);
    std::memcpy(transport + at + 2 + kHashSize, blob.data(), blob.size());
    at += 2 + kHashSize + blob.size();
    std::memcpy(state.recipient_data + 8 + i * kHashSize, hash.data(), kHashSize);
  }
  if (with_list) {
    std::vector<uint8_t> bag;
    if (!crypto::WriteCertificateBag(recipients, bag) ||
        !CopyBag(bag, state.recipient_list, kMaxRecipientList, state.recipient_list_length))
      return Provider(place::kRecipients, 0x07);
  }
  state.strong_transport_length = static_cast<uint32_t>(at);
  state.recipient_data_length = static_cast<uint32_t>(8 + recipients.size() * kHashSize);
  return kOk;
}

StatusCode SetUpRecipients(const frame::Password& password, const ZipEntryInfo& cipher,
                           ZipArchiveState& state) {
  crypto::CertificateList chosen;
  if (StatusCode code = ui::SelectRecipientCertificates(chosen)) return kSelectionBase + code;
  frame::SecretBytes<32> master;
  if (cipher.strong_flags & kFlagPassword) {
    if (!StrongPasswordKey(password, master.bytes)) return Provider(place::kRecipients, 0x02);
  } else if (StatusCode code = frame::RandomBytes(master.bytes, sizeof master.bytes)) {
    return code;
  }
  if (StatusCode code =
          BuildRecipients(chosen, master.bytes, cipher.strong_flags, state.cd_flags != 0, state))
    return code;
  return SealStrongRandom(master.bytes, cipher, cipher.strong_flags, state);
}

StatusCode RecoverWith(crypto::CertificateList& candidates, const KeyLoader& load, const uint8_t* part,
                       size_t length, uint32_t flags, uint8_t* key, bool& found) {
  found = false;
  if (length < 8) return kOk;
  const uint32_t count = LoadU32(part);
  for (crypto::Certificate& c : candidates) {
    const crypto::Sha1Digest hash = c.PublicKeyHash();
    size_t at = 8;
    for (uint32_t i = 0; i < count && length - at >= 2; ++i) {
      const size_t size = LoadU16(part + at);
      if (size > length - at - 2) break;
      const uint8_t* entry = part + at + 2;
      at += 2 + size;
      // An entry without a key blob cannot hold a key.
      if (size <= kHashSize || std::memcmp(entry, hash.data(), kHashSize) != 0) continue;
      if (c.private_key() == nullptr) {
        const StatusCode code = load(c);
        // A certificate without its key in "my" leaves the others to try; a key that
        // must not be used or a cancelled prompt ends the search.
        if (code == kNoPrivateKey) break;
        if (code != kOk) return code;
      }
      if (crypto::UnwrapSessionKey(c.private_key(), entry + kHashSize, size - kHashSize,
                                   (flags & kFlagNoOaep) == 0, key)) {
        found = true;
        return kOk;
      }
    }
  }
  return kOk;
}

struct KeyRecoveryScope::Store {
  bool read = false, opened = false;
  crypto::CertificateList mine;  // with the keys loaded so far
};

namespace {

// The store of the running call; calls that read archives run one at a time, on one thread.
KeyRecoveryScope::Store* g_call_store = nullptr;

}  // namespace

// A scope inside another (a call made by a call) shares the outer one's store.
KeyRecoveryScope::KeyRecoveryScope() {
  if (g_call_store != nullptr) return;
  store_ = std::make_unique<Store>();
  g_call_store = store_.get();
}

KeyRecoveryScope::~KeyRecoveryScope() {
  if (store_) g_call_store = nullptr;
}

StatusCode RecoverMasterKey(const uint8_t* part, size_t length, uint32_t flags, uint8_t* key, bool& found) {
  found = false;
  KeyRecoveryScope::Store own;
  KeyRecoveryScope::Store& store = g_call_store != nullptr ? *g_call_store : own;
  if (!store.read) {
    store.opened = ui::OpenPersonalStore(store.mine);
    store.read = true;
  }
  if (!store.opened) {
    // Without a store of one's own the password, when the archive has one, still opens it.
    return (flags & kFlagPassword) ? kOk : Provider(place::kKeyRecovery, 0x01);
  }
  return RecoverWith(
      store.mine, [](crypto::Certificate& c) { return ui::LoadPrivateKey(c, true); }, part, length, flags,
      key, found);
}

CertificateChoiceScope::~CertificateChoiceScope() { ui::ForgetCertificateChoice(); }

Signer::Signer() = default;
Signer::~Signer() = default;

StatusCode PrepareSigner(const Signer& signer, ZipArchiveState& state) {
  if (signer.certificate == nullptr || !signer.certificate->IsRsa()) return certs::kSignerNotRsa;
  crypto::CertificateList one;
  one.push_back(signer.certificate->Share());
  std::vector<uint8_t> bag;
  if (!crypto::WriteCertificateBag(one, bag) ||
      !CopyBag(bag, state.certificate_store, kMaxCertificateStore, state.certificate_store_length))
    return Provider(place::kSignerSetUp, 0x02);
  state.cd_signature_length = 0;
  if ((state.signing_flags & 1) == 0) return kOk;
  if (!IsSignedDigest(signer.hash_id)) return Condition(0x58, place::kSignerSetUp, 0x01);
  return WriteSignatureData(*signer.certificate, signer.hash_id, nullptr, 0, state.cd_signature,
                            kMaxSignature, state.cd_signature_length,
                            Condition(0x58, place::kSignerSetUp, 0x02),
                            Condition(0x58, place::kSignerSetUp, 0x03));
}

StatusCode SetUpSigner(uint32_t hash_id, bool ask, Signer& signer, ZipArchiveState& state) {
  crypto::CertificateList chosen;
  if (StatusCode code = ui::SelectSignerCertificate(chosen)) return kSelectionBase + code;
  if (chosen.empty()) return Provider(place::kSignerSetUp, 0x01);
  signer.certificate = std::make_unique<crypto::Certificate>(std::move(chosen.front()));
  signer.hash_id = hash_id;
  if (!signer.certificate->IsRsa()) return certs::kSignerNotRsa;
  if (StatusCode code = ui::LoadPrivateKey(*signer.certificate, ask)) return code;
  return PrepareSigner(signer, state);
}

StatusCode SignInto(const Signer& signer, const uint8_t* digest, uint8_t* out, size_t capacity,
                    uint32_t& length) {
  length = 0;
  if (signer.certificate == nullptr || !signer.certificate->valid())
    return Condition(0x51, place::kSigning, 0x01);
  if (!IsSignedDigest(signer.hash_id)) return Condition(0x58, place::kSigning, 0x01);
  if (signer.certificate->private_key() == nullptr) return Provider(place::kSigning, 0x02);
  std::vector<uint8_t> signature;
  if (!crypto::SignDigest(signer.certificate->private_key(), KindOf(signer.hash_id), digest,
                          DigestSize(signer.hash_id), signature))
    return Provider(place::kSigning, 0x06);
  return WriteSignatureData(*signer.certificate, signer.hash_id, signature.data(), signature.size(), out,
                            capacity, length, Condition(0x58, place::kSigning, 0x02),
                            Condition(0x58, place::kSigning, 0x03));
}

StatusCode VerifySignatureData(const uint8_t* store, size_t store_length, const uint8_t* signature,
                               size_t signature_length, uint32_t expected_hash, const uint8_t* digest,
                               size_t digest_length) {
  if (store_length == 0) return Condition(0x51, place::kVerification, 0x01);
  crypto::CertificateList bag;
  if (!crypto::ReadCertificateBag(store, store_length, bag)) return Provider(place::kVerification, 0x01);
  if (signature_length < 2 || LoadU16(signature) != expected_hash) return certs::kHashIdMismatch;
  SignatureId id;
  if (StatusCode code = ParseSignatureId(signature, signature_length, id)) return code;
  const crypto::Certificate* signer = FindSigner(bag, id);
  if (signer == nullptr) return Provider(place::kVerification, 0x05);
  if (!signer->IsRsa()) return Provider(place::kVerification, 0x07);
  if (!IsSignedDigest(expected_hash) || digest_length != DigestSize(expected_hash))
    return Provider(place::kVerification, 0x08);
  if (signature_length - id.end < 2 || LoadU16(signature + id.end) != signature_length - id.end - 2)
    return Provider(place::kVerification, 0x0a);
  if (!crypto::VerifyDigest(X509_get0_pubkey(signer->x509()), KindOf(expected_hash), digest, digest_length,
                            signature + id.end + 2, signature_length - id.end - 2))
    return certs::kSignatureBad;
  return kOk;
}

MemberDigest::~MemberDigest() { EVP_MD_CTX_free(ctx_); }

bool MemberDigest::Begin(uint32_t hash_id) {
  hash_id_ = 0;
  if (!IsSignedDigest(hash_id)) return false;
  if (ctx_ == nullptr) ctx_ = EVP_MD_CTX_new();
  if (ctx_ == nullptr || EVP_DigestInit_ex(ctx_, MdOf(hash_id), nullptr) != 1) return false;
  hash_id_ = hash_id;
  return true;
}

void MemberDigest::Update(const uint8_t* data, size_t size) {
  if (hash_id_ != 0 && EVP_DigestUpdate(ctx_, data, size) != 1) hash_id_ = 0;
}

size_t MemberDigest::Finish(uint8_t* out) {
  const uint32_t id = hash_id_;
  hash_id_ = 0;
  unsigned int size = 0;
  if (id == 0 || EVP_DigestFinal_ex(ctx_, out, &size) != 1) return 0;
  return size;
}

MemberSignatureCheck::MemberSignatureCheck(const ZipEntryInfo& entry) {
  if (entry.signature_length >= 2) digest_.Begin(LoadU16(entry.signature));
}

StatusCode MemberSignatureCheck::Verify(const ZipEntryInfo& entry, const ZipArchiveState& state) {
  if (entry.signature_length == 0) return kOk;
  uint8_t digest[kHashSize] = {};
  const size_t size = digest_.Finish(digest);
  const uint32_t id = entry.signature_length >= 2 ? LoadU16(entry.signature) : 0;
  return VerifySignatureData(state.certificate_store, state.certificate_store_length, entry.signature,
                             entry.signature_length, id, digest, size);
}

StatusCode SignMember(const Signer& signer, MemberDigest& digest, ZipEntryInfo& entry) {
  uint8_t value[kHashSize] = {};
  if (digest.Finish(value) == 0) return Condition(0x58, place::kSigning, 0x01);
  return SignInto(signer, value, entry.signature, kMaxSignature, entry.signature_length);
}

StatusCode SignDirectory(const Signer& signer, ZipArchiveState& state) {
  return SignInto(signer, state.hash, state.cd_signature, kMaxSignature, state.cd_signature_length);
}

StatusCode DigestDirectory(const uint8_t* block, size_t size, ZipArchiveState& state) {
  std::memset(state.hash, 0, sizeof state.hash);
  if (!IsSignedDigest(state.hash_algorithm) ||
      EVP_Digest(block, size, state.hash, nullptr, MdOf(state.hash_algorithm), nullptr) != 1)
    return Condition(0x58, place::kSigning, 0x01);
  return kOk;
}

StatusCode WriteDirectorySignature(const Signer& signer, platform::File& archive, ZipArchiveState& state,
                                   uint8_t occurrence) {
  if (StatusCode code = SignDirectory(signer, state)) return code;
  uint8_t record[kMaxSignatureRecord];
  const size_t length = WriteSignatureRecord(record, state);
  if (!archive.Write(record, length)) return SystemCode(platform::SysCall::WriteFile, 0, occurrence);
  state.cd_size += static_cast<uint32_t>(length);
  return kOk;
}

StatusCode MergeStores(const uint8_t* first, size_t first_length, const uint8_t* second, size_t second_length,
                       uint8_t* out, size_t capacity, uint32_t& length) {
  length = 0;
  if (first_length == 0 || second_length == 0) {
    const uint8_t* only = first_length != 0 ? first : second;
    const size_t size = first_length != 0 ? first_length : second_length;
    if (size > capacity) return Provider(place::kStoreMerge, 0x04);
    if (size > 0) std::memmove(out, only, size);  // `out` may be one of the inputs
    length = static_cast<uint32_t>(size);
    return kOk;
  }
  crypto::CertificateList merged, added;
  if (!crypto::ReadCertificateBag(first, first_length, merged)) return Provider(place::kStoreMerge, 0x01);
  if (!crypto::ReadCertificateBag(second, second_length, added)) return Provider(place::kStoreMerge, 0x02);
  for (crypto::Certificate& c : added) {
    const crypto::Sha1Digest print = c.Fingerprint();
    auto same = [&](const crypto::Certificate& known) { return known.Fingerprint() == print; };
    auto found = std::find_if(merged.begin(), merged.end(), same);
    if (found != merged.end())
      *found = std::move(c);
    else
      merged.push_back(std::move(c));
  }
  std::vector<uint8_t> bag;
  if (!crypto::WriteCertificateBag(merged, bag) || !CopyBag(bag, out, capacity, length))
    return Provider(place::kStoreMerge, 0x04);
  return kOk;
}

bool DescribeSigner(const uint8_t* store, size_t store_length, const uint8_t* signature,
                    size_t signature_length, SignerTrust& trust) {
  crypto::CertificateList bag;
  SignatureId id;
  if (!crypto::ReadCertificateBag(store, store_length, bag) ||
      ParseSignatureId(signature, signature_length, id) != kOk)
    return false;
  const crypto::Certificate* signer = FindSigner(bag, id);
  if (signer == nullptr) return false;
  trust.subject = signer->Subject();
  trust.issuer = signer->Issuer();
  trust.serial = signer->SerialHex();
  trust.fingerprint = signer->FingerprintHex();
  trust.in_user_stores = InUserStores(*signer);
  trust.system_trusted = crypto::ChainsToSystemTrust(*signer, bag);
  return true;
}

int SignatureNotice(const char16_t* archive, const ZipArchiveState& state) {
  const StatusCode kSignatureWrong = Condition(0x59, 0, 0);
  std::string message = ui::NoticeMessage(kSignatureWrong);
  SignerTrust trust;
  if (DescribeSigner(state.certificate_store, state.certificate_store_length, state.cd_signature,
                     state.cd_signature_length, trust)) {
    std::string subject = trust.subject;
    for (char& c : subject)
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    message.append("\nSigner: ").append(subject).append(" (").append(TrustText(trust)).append(")");
  }
  return ui::CurrentDialogs().ShowNotice(
      ui::Notice{ui::CurrentLanguage(), ui::DisplayPath(archive), message});
}

std::string TrustText(const SignerTrust& trust) {
  if (trust.in_user_stores) return "in your certificate stores";
  if (trust.system_trusted) return "trusted by the system";
  return "not trusted";
}

}  // namespace tx::zip
