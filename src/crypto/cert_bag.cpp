#include "crypto/cert_bag.h"

#include <openssl/asn1.h>
#include <openssl/objects.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <climits>

namespace tx::crypto {

namespace {

struct Bag {
  PKCS7* p = nullptr;
  ~Bag() { PKCS7_free(p); }
};

}  // namespace

bool WriteCertificateBag(const CertificateList& certificates, std::vector<uint8_t>& bag) {
  bag.clear();
  if (certificates.empty()) return false;
  Bag p7{PKCS7_new()};
  if (p7.p == nullptr || PKCS7_set_type(p7.p, NID_pkcs7_signed) != 1 ||
      PKCS7_content_new(p7.p, NID_pkcs7_data) != 1)
    return false;
  for (const Certificate& certificate : certificates)
    if (!certificate.valid() || PKCS7_add_certificate(p7.p, certificate.x509()) != 1) return false;
  unsigned char* der = nullptr;
  const int size = i2d_PKCS7(p7.p, &der);
  if (size > 0) bag.assign(der, der + size);
  OPENSSL_free(der);
  return size > 0;
}

size_t BagLength(const uint8_t* data, size_t size) {
  if (data == nullptr || size < 2 || size > LONG_MAX) return 0;
  const unsigned char* p = data;
  long length = 0;
  int tag = 0, cls = 0;
  const int info = ASN1_get_object(&p, &length, &tag, &cls, static_cast<long>(size));
  // An indefinite length or an element running past the bytes is not a bag we can take.
  if ((info & 0x80) != 0 || info == 0x21 || tag != V_ASN1_SEQUENCE) return 0;
  const size_t header = static_cast<size_t>(p - data);
  if (length < 0 || static_cast<size_t>(length) > size - header) return 0;
  return header + static_cast<size_t>(length);
}

bool ReadCertificateBag(const uint8_t* data, size_t size, CertificateList& certificates) {
  certificates.clear();
  // A bag with indefinite lengths (BER) has no DER length; the parser finds its end.
  size_t length = BagLength(data, size);
  if (length == 0) length = size;
  if (data == nullptr || length == 0 || length > LONG_MAX) return false;
  const unsigned char* p = data;
  Bag p7{d2i_PKCS7(nullptr, &p, static_cast<long>(length))};
  if (p7.p == nullptr || !PKCS7_type_is_signed(p7.p) || p7.p->d.sign == nullptr) return false;
  STACK_OF(X509)* stack = p7.p->d.sign->cert;
  const int count = stack != nullptr ? sk_X509_num(stack) : 0;
  for (int i = 0; i < count; ++i) {
    X509* x = sk_X509_value(stack, i);
    if (x == nullptr || X509_up_ref(x) != 1) continue;
    certificates.emplace_back(x);
  }
  return !certificates.empty();
}

}  // namespace tx::crypto
