// ZIP certificate features: the master key wrapped for recipients (and recovered with the
// user's own keys), the signer's certificate store, signatures over the central directory
// and over members, their verification, and what a signature's signer is to the user.
#pragma once

#include <openssl/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "frame/secrets.h"
#include "frame/status.h"
#include "platform/file.h"
#include "zip/zip_cd.h"
#include "zip/zip_records.h"

// Declared only: the certificate header and the digest header cannot meet in one file.
namespace tx::crypto {
class Certificate;
using CertificateList = std::vector<Certificate>;
}  // namespace tx::crypto

namespace tx::zip {

namespace place {
inline constexpr uint8_t kKeyRecovery = 0x51;
inline constexpr uint8_t kRecipients = 0x53;
inline constexpr uint8_t kSignerSetUp = 0x54;
inline constexpr uint8_t kSigning = 0x55;
inline constexpr uint8_t kStoreMerge = 0x56;
}  // namespace place

// Recipients of one archive: 25 at most, and their entries (34 bytes plus the RSA modulus
// each) within 4096 bytes: 25 RSA-1024, 14 RSA-2048, 9 RSA-3072 or 7 RSA-4096.
inline constexpr size_t kMaxRecipients = 25;
inline constexpr size_t kMaxTransportList = 4096;

// Status codes of the certificate steps that callers and tests tell apart.
namespace certs {
constexpr StatusCode Provider(uint8_t where, uint8_t occurrence) {
  return MakeCode(0x01, 0x30, where, occurrence);
}
constexpr StatusCode Condition(uint8_t cls, uint8_t where, uint8_t occurrence) {
  return MakeCode(0x00, cls, where, occurrence);
}
inline constexpr StatusCode kNoRecipient = Condition(0x51, place::kRecipients, 0x01);
inline constexpr StatusCode kTooManyRecipients = Condition(0x58, place::kRecipients, 0x01);
inline constexpr StatusCode kTransportListFull = Condition(0x58, place::kRecipients, 0x02);
inline constexpr StatusCode kRecipientNotRsa = Provider(place::kRecipients, 0x04);
inline constexpr StatusCode kSignerNotRsa = Provider(place::kSignerSetUp, 0x03);
inline constexpr StatusCode kSignatureBad = Condition(0x59, place::kVerification, 0x02);
inline constexpr StatusCode kHashIdMismatch = Condition(0x58, place::kVerification, 0x01);
}  // namespace certs

// Recipient processing over chosen certificates: wraps the 24-byte 3DES `master_key` for
// each (PKCS#1 v1.5 when `flags` has 0x0100, else OAEP) into the state's key-transport
// list, fills the recipient hash list of field 0x0017 and, with `with_list`, the PKCS#7
// recipient list. Nothing is kept on failure.
StatusCode BuildRecipients(const crypto::CertificateList& recipients, const uint8_t* master_key,
                           uint32_t flags, bool with_list, ZipArchiveState& state);

// Before anything is written: the recipients chosen through the picker, the archive's
// master key (from the password with flag 0x0001, else random), its random data sealed
// under it and the recipient lists, all in the state. `cipher` gives the members' kind
// and key length, and the flags with 0x0002.
StatusCode SetUpRecipients(const frame::Password& password, const ZipEntryInfo& cipher,
                           ZipArchiveState& state);

// Loads the private key of one candidate certificate; the codes of ui::LoadPrivateKey.
using KeyLoader = std::function<StatusCode(crypto::Certificate&)>;

// Key recovery over `candidates` for a decryption header's certificate part (`part`,
// `length` bytes: count, hash description, entries). `found` tells whether `key` (24
// bytes) holds the master key; a code is returned only for a key that must not be used
// (readable by others) or a prompt cancelled.
StatusCode RecoverWith(crypto::CertificateList& candidates, const KeyLoader& load, const uint8_t* part,
                       size_t length, uint32_t flags, uint8_t* key, bool& found);
// The same over the user's own certificates.
StatusCode RecoverMasterKey(const uint8_t* part, size_t length, uint32_t flags, uint8_t* key, bool& found);

// Held for a call that reads archives: the personal store is opened once for the call and
// the private keys loaded from it are kept until the call ends, so a key behind a
// passphrase is asked for once, not once per member.
class KeyRecoveryScope {
 public:
  KeyRecoveryScope();
  ~KeyRecoveryScope();
  KeyRecoveryScope(const KeyRecoveryScope&) = delete;
  KeyRecoveryScope& operator=(const KeyRecoveryScope&) = delete;

  struct Store;

 private:
  std::unique_ptr<Store> store_;
};

// Held for a packing call: a certificate choice preset for it ends with it, used or not.
struct CertificateChoiceScope {
  CertificateChoiceScope() = default;
  ~CertificateChoiceScope();
  CertificateChoiceScope(const CertificateChoiceScope&) = delete;
  CertificateChoiceScope& operator=(const CertificateChoiceScope&) = delete;
};

// The signer of an archive being packed: its certificate with the private key loaded.
struct Signer {
  Signer();
  ~Signer();
  Signer(const Signer&) = delete;
  Signer& operator=(const Signer&) = delete;
  std::unique_ptr<crypto::Certificate> certificate;
  uint32_t hash_id = 0;  // 0x8003 MD5 or 0x8004 SHA-1
};

// Signer set-up for a chosen certificate: its bag into the state's certificate store and,
// when the directory is signed, the placeholder signature data into the state.
StatusCode PrepareSigner(const Signer& signer, ZipArchiveState& state);
// The same with the signer chosen through the picker and its key loaded (asking for a
// passphrase when `ask`).
StatusCode SetUpSigner(uint32_t hash_id, bool ask, Signer& signer, ZipArchiveState& state);

// Signature data (issuer, serial, signature) over `digest` into `out`.
StatusCode SignInto(const Signer& signer, const uint8_t* digest, uint8_t* out, size_t capacity,
                    uint32_t& length);

// Verification of signature data against the certificate store of the archive.
StatusCode VerifySignatureData(const uint8_t* store, size_t store_length, const uint8_t* signature,
                               size_t signature_length, uint32_t expected_hash, const uint8_t* digest,
                               size_t digest_length);

// The digest of a member's data as it is packed or unpacked, for its signature.
class MemberDigest {
 public:
  MemberDigest() = default;
  ~MemberDigest();
  MemberDigest(const MemberDigest&) = delete;
  MemberDigest& operator=(const MemberDigest&) = delete;
  // False for identifiers other than MD5 and SHA-1.
  bool Begin(uint32_t hash_id);
  bool active() const { return hash_id_ != 0; }
  void Update(const uint8_t* data, size_t size);
  // The digest's length (16 or 20) into `out` (20 bytes).
  size_t Finish(uint8_t* out);

 private:
  uint32_t hash_id_ = 0;
  EVP_MD_CTX* ctx_ = nullptr;  // made by the first Begin, kept for the next
};

// Unpacking a member: its signature's digest runs over the output, then is checked.
class MemberSignatureCheck {
 public:
  explicit MemberSignatureCheck(const ZipEntryInfo& entry);
  void Update(const uint8_t* data, size_t size) {
    if (digest_.active()) digest_.Update(data, size);
  }
  StatusCode Verify(const ZipEntryInfo& entry, const ZipArchiveState& state);

 private:
  MemberDigest digest_;
};

// Packing a member: the digest is finished and signed into the entry's signature.
StatusCode SignMember(const Signer& signer, MemberDigest& digest, ZipEntryInfo& entry);
// The directory block (state.cd_original_size bytes, as digested into the state) signed
// into state.cd_signature.
StatusCode SignDirectory(const Signer& signer, ZipArchiveState& state);

// The plain directory block digested for its signature (MD5 or SHA-1, the state's).
StatusCode DigestDirectory(const uint8_t* block, size_t size, ZipArchiveState& state);
// Signs the digested directory and writes the digital signature record after the block,
// counting it in the directory's size. A failed write is `occurrence` of WriteFile.
StatusCode WriteDirectorySignature(const Signer& signer, platform::File& archive, ZipArchiveState& state,
                                   uint8_t occurrence);

// Store merge for updates: the certificates of `second` added to those of `first` (a
// certificate in both once); one bag alone is copied.
StatusCode MergeStores(const uint8_t* first, size_t first_length, const uint8_t* second, size_t second_length,
                       uint8_t* out, size_t capacity, uint32_t& length);

// Who signed, and what that certificate is to the user.
struct SignerTrust {
  std::string subject, issuer, serial, fingerprint;
  bool in_user_stores = false;  // the same certificate is in "my" or "addressbook"
  bool system_trusted = false;  // chains to the system's trusted certificates
};
// The signer of `signature` among the store's certificates; false when none matches.
bool DescribeSigner(const uint8_t* store, size_t store_length, const uint8_t* signature,
                    size_t signature_length, SignerTrust& trust);
// "in your certificate stores", "trusted by the system" or "not trusted".
std::string TrustText(const SignerTrust& trust);

// The notice for a directory signature that does not verify, naming the signer the
// archive claims and what the user's stores and the system make of it; the notice's answer.
int SignatureNotice(const char16_t* archive, const ZipArchiveState& state);

}  // namespace tx::zip
