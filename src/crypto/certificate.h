// X.509 certificates as the ZIP certificate features use them: parsed from DER or PEM, with
// the private key attached when the user's store holds one. A certificate owns its OpenSSL
// objects; the private key is freed (and wiped by OpenSSL) with it.
#pragma once

#include <openssl/types.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tx::crypto {

using Sha1Digest = std::array<uint8_t, 20>;

class Certificate {
 public:
  Certificate() = default;
  ~Certificate();
  Certificate(Certificate&& other) noexcept;
  Certificate& operator=(Certificate&& other) noexcept;
  Certificate(const Certificate&) = delete;
  Certificate& operator=(const Certificate&) = delete;

  // Takes ownership of `x509`.
  explicit Certificate(X509* x509) : x509_(x509) {}
  // One certificate in DER, or the first in PEM text; nothing when neither parses.
  static std::optional<Certificate> Parse(const uint8_t* data, size_t size);
  // A second owner of the same certificate, without the private key.
  Certificate Share() const;

  bool valid() const { return x509_ != nullptr; }
  X509* x509() const { return x509_; }
  // Null until a private key is attached.
  EVP_PKEY* private_key() const { return key_; }
  // Takes ownership of `key`; false (and `key` freed) when it does not belong to this
  // certificate's public key.
  bool AttachPrivateKey(EVP_PKEY* key);

  // SHA-1 of the DER certificate: what users name a certificate by.
  Sha1Digest Fingerprint() const;
  // SHA-1 of the DER SubjectPublicKeyInfo: the recipient id in archives.
  Sha1Digest PublicKeyHash() const;
  std::vector<uint8_t> Der() const;
  // The DER issuer name, and the serial number's magnitude, most significant byte first.
  std::vector<uint8_t> IssuerDer() const;
  std::vector<uint8_t> Serial() const;

  // One-line texts for listings and pickers.
  std::string Subject() const;
  std::string Issuer() const;
  std::string SerialHex() const;  // upper-case hex, most significant byte first
  std::string NotAfter() const;   // "YYYY-MM-DD hh:mm:ss" UTC
  std::string FingerprintHex() const;

  // An RSA public key and its modulus length in bytes (0 for other key types).
  bool IsRsa() const;
  size_t ModulusBytes() const;

  // Where the certificate came from (a store file), for messages and key loading.
  std::string origin;

 private:
  X509* x509_ = nullptr;
  EVP_PKEY* key_ = nullptr;
};

using CertificateList = std::vector<Certificate>;

// Upper-case hex of `size` bytes.
std::string HexText(const uint8_t* data, size_t size);

}  // namespace tx::crypto
