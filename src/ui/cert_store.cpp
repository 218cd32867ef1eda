#include "ui/cert_store.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <set>
#include <string_view>

#include "platform/system.h"
#include "ui/prompts.h"

namespace tx::ui {

namespace {

using platform::CertFile;
using platform::CertStore;

struct BioOwner {
  BIO* p = nullptr;
  ~BioOwner() { BIO_free_all(p); }
};
struct KeyOwner {
  EVP_PKEY* p = nullptr;
  ~KeyOwner() { EVP_PKEY_free(p); }
};
struct Pkcs12Owner {
  PKCS12* p = nullptr;
  ~Pkcs12Owner() { PKCS12_free(p); }
};

// A password held for the length of one call, wiped when it goes.
struct PasswordBuffer {
  char text[kPasswordBytes + 1] = {};
  ~PasswordBuffer() { platform::WipeMemory(text, sizeof text); }
};

bool IsPem(const CertFile& file) {
  std::string_view text(reinterpret_cast<const char*>(file.bytes.data()), file.bytes.size());
  return text.find("-----BEGIN ") != std::string_view::npos;
}

// PEM key blocks are "PRIVATE KEY", "ENCRYPTED PRIVATE KEY", "RSA PRIVATE KEY" and kin.
bool HoldsPemKey(const CertFile& file) {
  std::string_view text(reinterpret_cast<const char*>(file.bytes.data()), file.bytes.size());
  return text.find("PRIVATE KEY-----") != std::string_view::npos;
}

BIO* MemoryOf(const CertFile& file) {
  return BIO_new_mem_buf(file.bytes.data(), static_cast<int>(file.bytes.size()));
}

crypto::CertificateList PemCertificates(const CertFile& file) {
  crypto::CertificateList out;
  BioOwner bio{MemoryOf(file)};
  while (bio.p != nullptr) {
    // Skips blocks of other kinds (keys) on its way to the next certificate.
    X509* x = PEM_read_bio_X509(bio.p, nullptr, nullptr, nullptr);
    if (x == nullptr) break;
    out.emplace_back(x);
  }
  ERR_clear_error();
  return out;
}

Pkcs12Owner Pkcs12Of(const CertFile& file) {
  const unsigned char* p = file.bytes.data();
  Pkcs12Owner p12{d2i_PKCS12(nullptr, &p, static_cast<long>(file.bytes.size()))};
  ERR_clear_error();
  return p12;
}

// Opens a PKCS#12 file with one password; the key is wiped by OpenSSL when freed.
bool OpenPkcs12(PKCS12* p12, const char* password, KeyOwner& key, X509*& x509) {
  x509 = nullptr;
  bool ok = PKCS12_parse(p12, password, &key.p, &x509, nullptr) == 1;
  ERR_clear_error();
  return ok && x509 != nullptr;
}

// The id as hex digits without separators and leading zeros; empty when it is not hex.
std::string HexId(const std::string& id, bool strip_zeros) {
  std::string hex;
  for (char c : id) {
    if (c == ':' || c == ' ') continue;
    if (!std::isxdigit(static_cast<unsigned char>(c))) return {};
    hex.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
  }
  if (strip_zeros) hex.erase(0, std::min(hex.find_first_not_of('0'), hex.size()));
  return hex;
}

std::string CandidateLine(const crypto::Certificate& c) {
  std::string line = "  ";
  line.append(c.FingerprintHex()).append("  ").append(c.Subject()).append("  (serial ").append(c.SerialHex());
  line.append(")\n");
  return line;
}

const char* StoreName(CertStore store) { return store == CertStore::My ? "my" : "addressbook"; }

StatusCode Store(CertStore store, const crypto::Certificate& c, const uint8_t* data, size_t size,
                 std::string& stored) {
  std::string path;
  if (!platform::WriteCertFile(store, c.FingerprintHex() + ".pem", data, size, path))
    return cert_code::kWriteFailed;
  stored.append(StoreName(store)).append(" ").append(c.FingerprintHex()).append(" ").append(c.Subject());
  stored.append("\n");
  return tx::kOk;
}

// PEM text of a certificate and, when given, its key (encrypted under `password` when one
// is given). The text is held in OpenSSL memory and wiped before it is freed.
class PemText {
 public:
  PemText() : bio_{BIO_new(BIO_s_secmem())} {}
  ~PemText() {
    char* data = nullptr;
    long size = bio_.p != nullptr ? BIO_get_mem_data(bio_.p, &data) : 0;
    if (size > 0) platform::WipeMemory(data, static_cast<size_t>(size));
  }
  bool Add(X509* x509) { return bio_.p != nullptr && PEM_write_bio_X509(bio_.p, x509) == 1; }
  bool Add(const uint8_t* bytes, size_t size) {
    return bio_.p != nullptr && size <= 0x7FFFFFFF &&
           BIO_write(bio_.p, bytes, static_cast<int>(size)) == static_cast<int>(size);
  }
  bool Add(EVP_PKEY* key, const char* password) {
    size_t n = password != nullptr ? std::strlen(password) : 0;
    const EVP_CIPHER* cipher = n > 0 ? EVP_aes_256_cbc() : nullptr;
    return bio_.p != nullptr && PEM_write_bio_PKCS8PrivateKey(bio_.p, key, cipher, password,
                                                              static_cast<int>(n), nullptr, nullptr) == 1;
  }
  const uint8_t* data() const {
    char* data = nullptr;
    BIO_get_mem_data(bio_.p, &data);
    return reinterpret_cast<const uint8_t*>(data);
  }
  size_t size() const {
    char* data = nullptr;
    long size = BIO_get_mem_data(bio_.p, &data);
    return size > 0 ? static_cast<size_t>(size) : 0;
  }

 private:
  BioOwner bio_;
};

// An unencrypted PEM key of `file`; null when it holds none or only an encrypted one.
EVP_PKEY* PlainPemKey(const CertFile& file) {
  BioOwner bio{MemoryOf(file)};
  // The callback refuses to give a passphrase, so OpenSSL never asks on its own terminal.
  auto refuse = [](char*, int, int, void*) -> int { return -1; };
  EVP_PKEY* key = bio.p != nullptr ? PEM_read_bio_PrivateKey(bio.p, nullptr, refuse, nullptr) : nullptr;
  ERR_clear_error();
  return key;
}

StatusCode ImportPkcs12(PKCS12* p12, const CertFile& file, ImportTarget target, const char* password,
                        bool ask, std::string& stored) {
  // A PKCS#12 file is made to carry a private key.
  if (KeyFileExposed(file)) return cert_code::kKeyExposed;
  KeyOwner key;
  X509* x509 = nullptr;
  PasswordBuffer typed;
  const char* used = password != nullptr ? password : "";
  if (!OpenPkcs12(p12, used, key, x509)) {
    if (password != nullptr || !ask) return cert_code::kPasswordWrong;
    if (PasswordPrompt(typed.text) != 1) return cert_code::kCancelled;
    used = typed.text;
    if (!OpenPkcs12(p12, used, key, x509)) return cert_code::kPasswordWrong;
  }
  crypto::Certificate certificate(x509);
  if (target == ImportTarget::Automatic)
    target = key.p != nullptr ? ImportTarget::My : ImportTarget::AddressBook;
  PemText pem;
  if (!pem.Add(certificate.x509())) return cert_code::kWriteFailed;
  if (target == ImportTarget::AddressBook)
    return Store(CertStore::AddressBook, certificate, pem.data(), pem.size(), stored);
  if (key.p == nullptr) return cert_code::kNoPrivateKey;
  if (X509_check_private_key(certificate.x509(), key.p) != 1) {
    ERR_clear_error();
    return cert_code::kKeyMismatch;
  }
  if (!pem.Add(key.p, used)) return cert_code::kWriteFailed;
  return Store(CertStore::My, certificate, pem.data(), pem.size(), stored);
}

StatusCode ImportCertificates(const CertFile& file, crypto::CertificateList& certificates,
                              ImportTarget target, std::string& stored) {
  bool key = IsPem(file) && HoldsPemKey(file);
  if (key && KeyFileExposed(file)) return cert_code::kKeyExposed;
  if (target == ImportTarget::Automatic) target = key ? ImportTarget::My : ImportTarget::AddressBook;
  if (target == ImportTarget::My) {
    if (!key) return cert_code::kNoPrivateKey;
    // The file goes as it is, so an encrypted key stays encrypted; a plain key is checked
    // now, and its certificate put first when a chain file lists another one first.
    KeyOwner plain{PlainPemKey(file)};
    size_t owner = 0;
    while (plain.p != nullptr && owner < certificates.size() &&
           X509_check_private_key(certificates[owner].x509(), plain.p) != 1)
      ++owner;
    ERR_clear_error();
    if (owner == certificates.size()) return cert_code::kKeyMismatch;
    if (owner == 0)
      return Store(CertStore::My, certificates[0], file.bytes.data(), file.bytes.size(), stored);
    PemText pem;
    if (!pem.Add(certificates[owner].x509()) || !pem.Add(file.bytes.data(), file.bytes.size()))
      return cert_code::kWriteFailed;
    return Store(CertStore::My, certificates[owner], pem.data(), pem.size(), stored);
  }
  // Only the certificates go to the address book, never a key beside them.
  for (const crypto::Certificate& c : certificates) {
    PemText pem;
    if (!pem.Add(c.x509())) return cert_code::kWriteFailed;
    if (StatusCode code = Store(CertStore::AddressBook, c, pem.data(), pem.size(), stored)) return code;
  }
  return tx::kOk;
}

}  // namespace

crypto::CertificateList CertificatesOfFile(const CertFile& file) {
  if (file.bytes.empty()) return {};
  if (IsPem(file)) return PemCertificates(file);
  crypto::CertificateList out;
  const unsigned char* p = file.bytes.data();
  if (X509* x = d2i_X509(nullptr, &p, static_cast<long>(file.bytes.size()))) {
    out.emplace_back(x);
    return out;
  }
  ERR_clear_error();
  Pkcs12Owner p12 = Pkcs12Of(file);
  KeyOwner key;
  X509* x509 = nullptr;
  if (p12.p != nullptr && OpenPkcs12(p12.p, "", key, x509)) out.emplace_back(x509);
  return out;
}

bool ReadStoreCertificates(CertStore store, crypto::CertificateList& certificates) {
  certificates.clear();
  std::vector<CertFile> files;
  if (!platform::ReadCertStore(store, files)) return false;
  std::set<crypto::Sha1Digest> seen;
  for (const CertFile& file : files) {
    crypto::CertificateList found = CertificatesOfFile(file);
    // A file of "my" stands for one certificate and its key: its first certificate.
    if (store == CertStore::My && found.size() > 1) found.resize(1);
    for (crypto::Certificate& c : found) {
      if (!seen.insert(c.Fingerprint()).second) continue;
      c.origin = file.path;
      certificates.push_back(std::move(c));
    }
  }
  return true;
}

std::vector<size_t> MatchCertificateId(const crypto::CertificateList& list, const std::string& id) {
  std::vector<size_t> found;
  const std::string hex = HexId(id, false);
  if (!hex.empty()) {
    for (size_t i = 0; i < list.size(); ++i)
      if (list[i].FingerprintHex() == hex) found.push_back(i);
    if (!found.empty()) return found;
    const std::string serial = HexId(id, true);
    for (size_t i = 0; i < list.size(); ++i)
      if (HexId(list[i].SerialHex(), true) == serial) found.push_back(i);
    if (!found.empty()) return found;
  }
  for (size_t i = 0; i < list.size(); ++i)
    if (list[i].Subject().find(id) != std::string::npos) found.push_back(i);
  return found;
}

StatusCode ChooseCertificate(const crypto::CertificateList& list, const std::string& id, size_t& index,
                             std::string& message) {
  if (id.empty()) {
    message = "an empty certificate id names nothing\n";
    return cert_code::kNoId;
  }
  std::vector<size_t> found = MatchCertificateId(list, id);
  if (found.size() == 1) {
    index = found[0];
    return tx::kOk;
  }
  message.assign(1, '"');
  message.append(id);
  if (found.empty()) {
    message.append(list.empty() ? "\" matches no certificate; there are none to choose from\n"
                                : "\" matches no certificate; the candidates are:\n");
    for (const crypto::Certificate& c : list) message.append(CandidateLine(c));
    return cert_code::kNoMatch;
  }
  message.append("\" matches several certificates:\n");
  for (size_t i : found) message.append(CandidateLine(list[i]));
  return cert_code::kSeveralMatch;
}

StatusCode ImportCertificateFile(const std::string& path, ImportTarget target, const char* password, bool ask,
                                 std::string& stored) {
  stored.clear();
  CertFile file;
  if (!platform::ReadCertFile(path, file)) return cert_code::kReadFailed;
  if (IsPem(file)) {
    crypto::CertificateList certificates = PemCertificates(file);
    if (certificates.empty()) return cert_code::kNotACertificate;
    return ImportCertificates(file, certificates, target, stored);
  }
  const unsigned char* p = file.bytes.data();
  if (X509* x = d2i_X509(nullptr, &p, static_cast<long>(file.bytes.size()))) {
    crypto::CertificateList certificates;
    certificates.emplace_back(x);
    return ImportCertificates(file, certificates, target, stored);
  }
  ERR_clear_error();
  Pkcs12Owner p12 = Pkcs12Of(file);
  if (p12.p == nullptr) return cert_code::kNotACertificate;
  return ImportPkcs12(p12.p, file, target, password, ask, stored);
}

std::string CertificateListing() {
  std::string text;
  for (CertStore store : {CertStore::My, CertStore::AddressBook}) {
    crypto::CertificateList list;
    if (!ReadStoreCertificates(store, list)) continue;
    for (const crypto::Certificate& c : list) {
      text.append("[").append(StoreName(store)).append("] ").append(c.Subject()).append("\r\n");
      text.append("  issuer   ").append(c.Issuer()).append("\r\n");
      text.append("  serial   ").append(c.SerialHex()).append("\r\n");
      text.append("  expires  ").append(c.NotAfter()).append(" UTC\r\n");
      text.append("  SHA-1    ").append(c.FingerprintHex()).append("\r\n");
    }
  }
  return text;
}

StatusCode RemoveCertificate(const std::string& id, std::string& message) {
  message.clear();
  // One list of the certificates of both stores, each once: a certificate kept in both
  // is one candidate, and removing it removes it from both.
  crypto::CertificateList all;
  std::set<crypto::Sha1Digest> seen;
  for (CertStore store : {CertStore::My, CertStore::AddressBook}) {
    crypto::CertificateList list;
    ReadStoreCertificates(store, list);
    for (crypto::Certificate& c : list)
      if (seen.insert(c.Fingerprint()).second) all.push_back(std::move(c));
  }
  size_t index = 0;
  if (StatusCode code = ChooseCertificate(all, id, index, message)) return code;
  const crypto::Sha1Digest target = all[index].Fingerprint();
  for (CertStore store : {CertStore::My, CertStore::AddressBook}) {
    std::vector<CertFile> files;
    if (!platform::ReadCertStore(store, files)) continue;
    for (const CertFile& file : files) {
      crypto::CertificateList held = CertificatesOfFile(file);
      if (store == CertStore::My && held.size() > 1) held.resize(1);
      bool holds = std::any_of(held.begin(), held.end(),
                               [&](const crypto::Certificate& c) { return c.Fingerprint() == target; });
      if (!holds) continue;
      if (!platform::RemoveCertFile(store, file.name)) return cert_code::kDeleteFailed;
      message.append(StoreName(store)).append(" ").append(all[index].FingerprintHex()).append(" ");
      message.append(all[index].Subject()).append("\n");
    }
  }
  return tx::kOk;
}

}  // namespace tx::ui
