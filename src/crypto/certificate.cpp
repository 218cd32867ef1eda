#include "crypto/certificate.h"

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstring>
#include <ctime>
#include <utility>

namespace tx::crypto {

namespace {

template <typename T, void (*Free)(T*)>
struct Owned {
  T* p = nullptr;
  ~Owned() { Free(p); }
};

Sha1Digest Sha1Of(const unsigned char* data, size_t size) {
  Sha1Digest out{};
  unsigned int length = 0;
  EVP_Digest(data, size, out.data(), &length, EVP_sha1(), nullptr);
  return out;
}

std::string NameText(const X509_NAME* name) {
  std::string text;
  if (name == nullptr) return text;
  Owned<BIO, BIO_free_all> bio{BIO_new(BIO_s_mem())};
  if (bio.p == nullptr) return text;
  // One line, RFC 2253 order reversed to the usual "CN=..., O=..." reading, UTF-8 kept.
  const unsigned long flags =
      (XN_FLAG_ONELINE & ~ASN1_STRFLGS_ESC_MSB & ~XN_FLAG_SPC_EQ) | ASN1_STRFLGS_UTF8_CONVERT;
  if (X509_NAME_print_ex(bio.p, name, 0, flags) < 0) return text;
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio.p, &data);
  if (size > 0) text.assign(data, static_cast<size_t>(size));
  return text;
}

}  // namespace

Certificate::~Certificate() {
  EVP_PKEY_free(key_);
  X509_free(x509_);
}

Certificate::Certificate(Certificate&& other) noexcept
    : origin(std::move(other.origin)),
      x509_(std::exchange(other.x509_, nullptr)),
      key_(std::exchange(other.key_, nullptr)) {}

Certificate& Certificate::operator=(Certificate&& other) noexcept {
  if (this != &other) {
    EVP_PKEY_free(key_);
    X509_free(x509_);
    x509_ = std::exchange(other.x509_, nullptr);
    key_ = std::exchange(other.key_, nullptr);
    origin = std::move(other.origin);
  }
  return *this;
}

std::optional<Certificate> Certificate::Parse(const uint8_t* data, size_t size) {
  if (data == nullptr || size == 0 || size > 0x7FFFFFFF) return std::nullopt;
  const unsigned char* p = data;
  X509* x = d2i_X509(nullptr, &p, static_cast<long>(size));
  if (x == nullptr) {
    Owned<BIO, BIO_free_all> bio{BIO_new_mem_buf(data, static_cast<int>(size))};
    if (bio.p != nullptr) x = PEM_read_bio_X509(bio.p, nullptr, nullptr, nullptr);
  }
  if (x == nullptr) return std::nullopt;
  return Certificate(x);
}

Certificate Certificate::Share() const {
  if (x509_ != nullptr) X509_up_ref(x509_);
  Certificate copy(x509_);
  copy.origin = origin;
  return copy;
}

bool Certificate::AttachPrivateKey(EVP_PKEY* key) {
  if (key == nullptr) return false;
  EVP_PKEY* pub = x509_ != nullptr ? X509_get0_pubkey(x509_) : nullptr;
  if (pub == nullptr || EVP_PKEY_eq(pub, key) != 1) {
    EVP_PKEY_free(key);
    return false;
  }
  EVP_PKEY_free(key_);
  key_ = key;
  return true;
}

std::vector<uint8_t> Certificate::Der() const {
  std::vector<uint8_t> out;
  unsigned char* der = nullptr;
  const int size = x509_ != nullptr ? i2d_X509(x509_, &der) : -1;
  if (size > 0) out.assign(der, der + size);
  OPENSSL_free(der);
  return out;
}

Sha1Digest Certificate::Fingerprint() const {
  const std::vector<uint8_t> der = Der();
  return Sha1Of(der.data(), der.size());
}

Sha1Digest Certificate::PublicKeyHash() const {
  Sha1Digest out{};
  if (x509_ == nullptr) return out;
  unsigned char* der = nullptr;
  const int size = i2d_X509_PUBKEY(X509_get_X509_PUBKEY(x509_), &der);
  if (size > 0) out = Sha1Of(der, static_cast<size_t>(size));
  OPENSSL_free(der);
  return out;
}

std::vector<uint8_t> Certificate::IssuerDer() const {
  std::vector<uint8_t> out;
  if (x509_ == nullptr) return out;
  unsigned char* der = nullptr;
  const int size = i2d_X509_NAME(X509_get_issuer_name(x509_), &der);
  if (size > 0) out.assign(der, der + size);
  OPENSSL_free(der);
  return out;
}

std::vector<uint8_t> Certificate::Serial() const {
  std::vector<uint8_t> out;
  const ASN1_INTEGER* serial = x509_ != nullptr ? X509_get0_serialNumber(x509_) : nullptr;
  if (serial == nullptr) return out;
  const unsigned char* data = ASN1_STRING_get0_data(serial);
  out.assign(data, data + ASN1_STRING_length(serial));
  return out;
}

std::string Certificate::Subject() const {
  return NameText(x509_ != nullptr ? X509_get_subject_name(x509_) : nullptr);
}

std::string Certificate::Issuer() const {
  return NameText(x509_ != nullptr ? X509_get_issuer_name(x509_) : nullptr);
}

std::string Certificate::SerialHex() const {
  const std::vector<uint8_t> serial = Serial();
  return HexText(serial.data(), serial.size());
}

std::string Certificate::NotAfter() const {
  const ASN1_TIME* t = x509_ != nullptr ? X509_get0_notAfter(x509_) : nullptr;
  struct tm when {};
  if (t == nullptr || ASN1_TIME_to_tm(t, &when) != 1) return {};
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &when);
  return text;
}

std::string Certificate::FingerprintHex() const {
  const Sha1Digest print = Fingerprint();
  return HexText(print.data(), print.size());
}

bool Certificate::IsRsa() const {
  EVP_PKEY* pub = x509_ != nullptr ? X509_get0_pubkey(x509_) : nullptr;
  return pub != nullptr && EVP_PKEY_get_base_id(pub) == EVP_PKEY_RSA;
}

size_t Certificate::ModulusBytes() const {
  if (!IsRsa()) return 0;
  const int bits = EVP_PKEY_get_bits(X509_get0_pubkey(x509_));
  return bits > 0 ? (static_cast<size_t>(bits) + 7) / 8 : 0;
}

std::string HexText(const uint8_t* data, size_t size) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(size * 2);
  for (size_t i = 0; i < size; ++i) {
    text.push_back(kDigits[data[i] >> 4]);
    text.push_back(kDigits[data[i] & 15]);
  }
  return text;
}

}  // namespace tx::crypto
