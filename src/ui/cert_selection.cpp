#include "ui/cert_selection.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <set>
#include <string_view>
#include <utility>

#include "platform/system.h"
#include "ui/cert_store.h"
#include "ui/dialogs.h"
#include "ui/prompts.h"
#include "ui/texts.h"

namespace tx::ui {

namespace {

using platform::CertStore;

// A choice made ahead of the pickers: each answers the next picker of its kind once.
struct Preset {
  std::optional<crypto::CertificateList> recipients;
  std::optional<crypto::Certificate> signer;
};
Preset g_preset;

// The certificates the recipient picker offers: the address book's, then "my"'s, each once.
crypto::CertificateList RecipientCandidates() {
  crypto::CertificateList all, mine;
  OpenAddressBook(all);
  OpenPersonalStore(mine);
  std::set<crypto::Sha1Digest> seen;
  for (const crypto::Certificate& c : all) seen.insert(c.Fingerprint());
  for (crypto::Certificate& c : mine)
    if (seen.insert(c.Fingerprint()).second) all.push_back(std::move(c));
  return all;
}

CertificatePick PickOf(const crypto::CertificateList& list, uint32_t prompt, bool several) {
  Language language = CurrentLanguage();
  const char* text = MessageText(prompt, language);
  CertificatePick pick{language, text != nullptr ? text : "", several, {}};
  for (const crypto::Certificate& c : list)
    pick.rows.push_back({c.Subject(), c.Issuer(), c.SerialHex(), c.NotAfter(), c.FingerprintHex()});
  return pick;
}

struct KeyOwner {
  EVP_PKEY* p = nullptr;
  ~KeyOwner() { EVP_PKEY_free(p); }
};
struct BioOwner {
  BIO* p = nullptr;
  ~BioOwner() { BIO_free_all(p); }
};

// What the passphrase callback did: OpenSSL calls it only for an encrypted key.
struct Passphrase {
  bool ask = false;
  bool asked = false;
  bool cancelled = false;
};

int GivePassphrase(char* buffer, int size, int, void* data) {
  auto* state = static_cast<Passphrase*>(data);
  if (!state->ask || state->asked || size <= 0) return -1;
  state->asked = true;
  char typed[kPasswordBytes + 1] = {};
  int result = PasswordPrompt(typed);
  int length = -1;
  if (result == 1) {
    length = static_cast<int>(std::min(std::strlen(typed), static_cast<size_t>(size)));
    std::memcpy(buffer, typed, static_cast<size_t>(length));
  } else {
    state->cancelled = true;
  }
  platform::WipeMemory(typed, sizeof typed);
  return length;
}

constexpr StatusCode kNoKey = 0x01306301;
constexpr StatusCode kKeyExposed = 0x01306302;
constexpr StatusCode kKeyUnreadable = 0x01306303;
constexpr StatusCode kKeyCancelled = 0x00906301;

// The private key of a "my" file that holds `certificate`.
StatusCode KeyOfFile(const platform::CertFile& file, bool ask, KeyOwner& key) {
  if (KeyFileExposed(file)) return kKeyExposed;
  std::string_view text(reinterpret_cast<const char*>(file.bytes.data()), file.bytes.size());
  if (text.find("-----BEGIN ") != std::string_view::npos) {
    BioOwner bio{BIO_new_mem_buf(file.bytes.data(), static_cast<int>(file.bytes.size()))};
    Passphrase state{ask};
    if (bio.p != nullptr) key.p = PEM_read_bio_PrivateKey(bio.p, nullptr, GivePassphrase, &state);
    ERR_clear_error();
    if (key.p == nullptr) return state.cancelled ? kKeyCancelled : kKeyUnreadable;
    return tx::kOk;
  }
  const unsigned char* p = file.bytes.data();
  PKCS12* p12 = d2i_PKCS12(nullptr, &p, static_cast<long>(file.bytes.size()));
  X509* x509 = nullptr;
  bool ok = p12 != nullptr && PKCS12_parse(p12, "", &key.p, &x509, nullptr) == 1;
  PKCS12_free(p12);
  X509_free(x509);
  ERR_clear_error();
  return ok && key.p != nullptr ? tx::kOk : kKeyUnreadable;
}

}  // namespace

bool OpenPersonalStore(crypto::CertificateList& certificates) {
  return ReadStoreCertificates(CertStore::My, certificates);
}

bool OpenAddressBook(crypto::CertificateList& certificates) {
  return ReadStoreCertificates(CertStore::AddressBook, certificates);
}

StatusCode SelectRecipientCertificates(crypto::CertificateList& chosen) {
  chosen.clear();
  if (g_preset.recipients) {
    chosen = std::move(*g_preset.recipients);
    g_preset.recipients.reset();
    return tx::kOk;
  }
  crypto::CertificateList offered = RecipientCandidates();
  std::vector<size_t> picked;
  int answer = CurrentDialogs().PickCertificates(PickOf(offered, 3021, true), picked);
  if (answer == kNoDialog) return MakeCode(0x00, 0x00, place::kRecipientSelection, 0x02);
  if (answer != kOk) return tx::kOk;  // closing the picker chooses nobody
  for (size_t i : picked)
    if (i < offered.size()) chosen.push_back(offered[i].Share());
  return tx::kOk;
}

StatusCode SelectSignerCertificate(crypto::CertificateList& chosen) {
  if (g_preset.signer) {
    chosen.push_back(std::move(*g_preset.signer));
    g_preset.signer.reset();
    return tx::kOk;
  }
  crypto::CertificateList mine;
  if (!OpenPersonalStore(mine)) return MakeCode(0x00, 0x00, place::kSignerSelection, 0x01);
  std::vector<size_t> picked;
  int answer = CurrentDialogs().PickCertificates(PickOf(mine, 3022, false), picked);
  if (answer == kNoDialog) return MakeCode(0x00, 0x00, place::kSignerSelection, 0x02);
  if (answer != kOk || picked.empty()) return MakeCode(0x00, 0x00, place::kSignerSelection, 0x04);
  if (picked[0] >= mine.size()) return MakeCode(0x00, 0x00, place::kSignerSelection, 0x03);
  chosen.push_back(std::move(mine[picked[0]]));
  return tx::kOk;
}

StatusCode LoadPrivateKey(crypto::Certificate& certificate, bool ask) {
  std::vector<platform::CertFile> files;
  if (!certificate.valid() || !platform::ReadCertStore(CertStore::My, files)) return kNoKey;
  const std::vector<uint8_t> der = certificate.Der();
  for (const platform::CertFile& file : files) {
    crypto::CertificateList held = CertificatesOfFile(file);
    if (held.empty() || held[0].Der() != der) continue;
    KeyOwner key;
    if (StatusCode code = KeyOfFile(file, ask, key)) return code;
    if (!certificate.AttachPrivateKey(std::exchange(key.p, nullptr))) return kKeyUnreadable;
    return tx::kOk;
  }
  return kNoKey;
}

StatusCode PresetCertificateChoice(const std::vector<std::string>& recipients, const std::string& signer,
                                   std::string& message) {
  message.clear();
  // A failed choice must not leave an older one to answer the next picker.
  g_preset = Preset{};
  Preset preset;
  if (!recipients.empty()) {
    crypto::CertificateList offered = RecipientCandidates();
    crypto::CertificateList chosen;
    std::set<crypto::Sha1Digest> taken;
    for (const std::string& id : recipients) {
      size_t index = 0;
      if (StatusCode code = ChooseCertificate(offered, id, index, message))
        return ConditionCode(Cls::BadArgument, place::kRecipientSelection,
                             code == cert_code::kSeveralMatch ? 0x04 : 0x03);
      // Naming one recipient twice must not list it twice.
      if (taken.insert(offered[index].Fingerprint()).second) chosen.push_back(offered[index].Share());
    }
    preset.recipients = std::move(chosen);
  }
  if (!signer.empty()) {
    crypto::CertificateList mine;
    if (!OpenPersonalStore(mine)) {
      message = "the store \"my\" does not open\n";
      return MakeCode(0x00, 0x00, place::kSignerSelection, 0x01);
    }
    size_t index = 0;
    if (StatusCode code = ChooseCertificate(mine, signer, index, message))
      return ConditionCode(Cls::BadArgument, place::kSignerSelection,
                           code == cert_code::kSeveralMatch ? 0x06 : 0x05);
    preset.signer = std::move(mine[index]);
  }
  g_preset = std::move(preset);
  return tx::kOk;
}

void ForgetCertificateChoice() { g_preset = Preset{}; }

}  // namespace tx::ui
