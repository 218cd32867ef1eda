// Choosing certificates for ZIP recipients and signers, and finding the user's own keys.
// The user's certificates live in two stores: "my" (certificates with their private keys)
// and "addressbook" (other people's certificates). A choice made ahead of the call (by the
// command line or a host, through PresetCertificateChoice) answers the picker; otherwise
// the picker of the installed dialog backend asks.
#pragma once

#include <string>
#include <vector>

#include "crypto/certificate.h"
#include "frame/status.h"

namespace tx::ui {

// Place of the selection routines and of private-key loading in status codes.
namespace place {
inline constexpr uint8_t kRecipientSelection = 0x61;
inline constexpr uint8_t kSignerSelection = 0x62;
inline constexpr uint8_t kPrivateKey = 0x63;
}  // namespace place

// Recipients: every certificate of "addressbook" and "my" (each once) is offered and
// several may be chosen; `chosen` gets them, and stays empty when none was chosen (not an
// error). 0, or 0x6101 (no temporary store) / 0x6102 (no picker).
StatusCode SelectRecipientCertificates(crypto::CertificateList& chosen);

// Signer: one certificate of "my" is chosen and appended to `chosen` (private key not
// loaded). 0, or 0x6201 ("my" does not open), 0x6202 (no picker), 0x6203 (not added),
// 0x6204 (none chosen).
StatusCode SelectSignerCertificate(crypto::CertificateList& chosen);

// The certificates of "my" (without keys) or "addressbook"; false when the store does not
// open (a store that does not exist does not open).
bool OpenPersonalStore(crypto::CertificateList& certificates);
bool OpenAddressBook(crypto::CertificateList& certificates);

// The pickers list certificates the user may not own a key for, and "my" offers only
// those with a key file; neither checks the key type (RSA is the caller's check).

// Finds `certificate` in "my" (by its DER bytes) and attaches its private key, asking for
// the passphrase of an encrypted key through the password prompt when `ask` is set.
// 0x01306301 no such certificate with a key in "my"; 0x01306302 the key file's
// permissions let group or others read or change it (refused, never used); 0x01306303 the key cannot be read
// (wrong passphrase, damaged); 0x00906301 the passphrase prompt was cancelled.
StatusCode LoadPrivateKey(crypto::Certificate& certificate, bool ask);

// Presets the answers of the next pickers (one call each): certificate ids (SHA-1
// fingerprint in hex, serial in hex, or a subject substring) that must each match exactly
// one certificate of the stores the picker offers. An empty list / empty signer leaves that
// picker to ask; both empty clears an earlier choice. Matching happens here: 0, or a code
// with `message` naming the candidates: 0x00016103 / 0x00016104 a recipient id matches no /
// several certificates of "addressbook" and "my"; 0x00016205 / 0x00016206 the signer id
// matches no / several certificates of "my"; 0x00006201 "my" does not open. A failed call
// leaves no choice behind.
StatusCode PresetCertificateChoice(const std::vector<std::string>& recipients, const std::string& signer,
                                   std::string& message);

// Drops a preset choice that no picker used; the call that the choice was made for calls
// this as it ends, so the choice never reaches a later call.
void ForgetCertificateChoice();

}  // namespace tx::ui
