// The user's certificate stores as certificates: reading them, choosing a certificate by
// an id, importing, listing and removing. The pickers and key loading (cert_selection.h)
// and the certificate exports build on this.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "crypto/certificate.h"
#include "frame/status.h"
#include "platform/cert_files.h"

namespace tx::ui {

namespace place {
inline constexpr uint8_t kCertificateStore = 0x64;
}  // namespace place

// Status codes of the store routines (place 0x64).
namespace cert_code {
inline constexpr StatusCode kNotACertificate = 0x00016401;  // neither PEM, DER nor PKCS#12
inline constexpr StatusCode kNoPrivateKey = 0x00016402;     // "my" needs a certificate with its key
inline constexpr StatusCode kKeyMismatch = 0x00016403;      // the key belongs to another certificate
inline constexpr StatusCode kKeyExposed = 0x01306404;       // a key file group or others may read
inline constexpr StatusCode kPasswordWrong = 0x00416405;    // PKCS#12 password
inline constexpr StatusCode kCancelled = 0x00906406;        // password prompt cancelled
inline constexpr StatusCode kReadFailed = 0x01036407;       // the file to import
inline constexpr StatusCode kWriteFailed = 0x01046408;      // the store's file
inline constexpr StatusCode kNoMatch = 0x00016409;          // an id names no certificate
inline constexpr StatusCode kSeveralMatch = 0x0001640A;     // an id names several certificates
inline constexpr StatusCode kDeleteFailed = 0x010E640B;     // removing a store file
inline constexpr StatusCode kNoId = 0x0001640C;             // an empty id
}  // namespace cert_code

// The certificates of a store, once each (by fingerprint), without private keys; each
// one's `origin` is its file's path. Files that hold no certificate are skipped. False when
// the store does not open.
bool ReadStoreCertificates(platform::CertStore store, crypto::CertificateList& certificates);

// The certificates of one store file: every certificate of PEM text, a DER certificate, or
// the certificate of a PKCS#12 file that opens with the empty password.
crypto::CertificateList CertificatesOfFile(const platform::CertFile& file);

// True when the file's permissions let group or others at it: a private key there is
// refused, as ssh refuses it.
inline bool KeyFileExposed(const platform::CertFile& file) { return (file.mode & 077) != 0; }

// The certificates of `list` that `id` names: a SHA-1 fingerprint or a serial number in
// hex (any case; ":" and blanks ignored), else a part of the subject. The first of these
// three kinds that names anything decides.
std::vector<size_t> MatchCertificateId(const crypto::CertificateList& list, const std::string& id);

// kNoMatch or kSeveralMatch for an id that names no or several certificates of `list`,
// with `message` naming the candidates; 0 with `index` set when it names one.
StatusCode ChooseCertificate(const crypto::CertificateList& list, const std::string& id, size_t& index,
                             std::string& message);

// Where an import goes.
enum class ImportTarget { Automatic, My, AddressBook };

// Imports a PEM, DER or PKCS#12 file. "my" receives a certificate with its private key
// (the default when the file holds one), "addressbook" certificates only. A PKCS#12 file
// is opened with `password` (null: the empty one, then the password prompt when `ask`)
// and kept as PEM with its key encrypted under that password. `stored` gets one line per
// certificate stored: "STORE FINGERPRINT SUBJECT".
StatusCode ImportCertificateFile(const std::string& path, ImportTarget target, const char* password, bool ask,
                                 std::string& stored);

// The certificates of both stores, one block per certificate and store, lines ending in
// CR LF: "[my] SUBJECT", then issuer, serial, expiry and SHA-1 fingerprint.
std::string CertificateListing();

// Removes the certificate `id` names from every store that holds it; `message` names
// the candidates when the id names none or several, else what was removed.
StatusCode RemoveCertificate(const std::string& id, std::string& message);

}  // namespace tx::ui
