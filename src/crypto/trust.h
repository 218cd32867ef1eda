// Whether a certificate is vouched for by the system: a chain to the trusted certificates
// the system installs (the default OpenSSL paths: Debian's ca-certificates).
#pragma once

#include "crypto/certificate.h"

namespace tx::crypto {

// True when `leaf` chains, through `intermediates` where needed, to a certificate the
// system trusts, and every certificate of the chain is valid now.
bool ChainsToSystemTrust(const Certificate& leaf, const CertificateList& intermediates);

}  // namespace tx::crypto
