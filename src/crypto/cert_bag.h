// Certificate bags: the PKCS#7 signed-data without signers that the ZIP certificate store
// (signers) and recipient list carry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "crypto/certificate.h"

namespace tx::crypto {

// The DER encoding of a bag holding `certificates` (without their keys); false when there
// are none or OpenSSL fails.
bool WriteCertificateBag(const CertificateList& certificates, std::vector<uint8_t>& bag);

// The length of the DER element at the start of `data` when it is whole within `size`
// bytes, else 0. Writers differ in what they put after a bag, so the bag is taken by its
// own length.
size_t BagLength(const uint8_t* data, size_t size);

// The certificates of a bag in their order; false when the bag does not parse or is empty.
bool ReadCertificateBag(const uint8_t* data, size_t size, CertificateList& certificates);

}  // namespace tx::crypto
