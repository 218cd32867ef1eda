// The certificate-store exports: import, list and remove for hosts such as the tessarex
// command, and the preset choice that answers the ZIP certificate pickers.
#include <cstring>
#include <string>
#include <vector>

#include "frame/call_frame.h"
#include "frame/listing.h"
#include "frame/status.h"
#include "tessarex.h"
#include "ui/cert_selection.h"
#include "ui/cert_store.h"

namespace {

// Copies what fits of `text` into an optional message buffer, always terminated.
void GiveMessage(const std::string& text, char* buffer, uint32_t size) {
  if (buffer == nullptr || size == 0) return;
  size_t n = text.size() < size - 1 ? text.size() : size - 1;
  std::memcpy(buffer, text.data(), n);
  buffer[n] = 0;
}

// Ids separated by line ends; blank lines are skipped.
std::vector<std::string> IdLines(const char* text) {
  std::vector<std::string> ids;
  if (text == nullptr) return ids;
  std::string line;
  for (const char* p = text;; ++p) {
    if (*p == '\n' || *p == '\r' || *p == 0) {
      if (!line.empty()) ids.push_back(line);
      line.clear();
      if (*p == 0) break;
    } else {
      line.push_back(*p);
    }
  }
  return ids;
}

}  // namespace

extern "C" {

TessarexStatus TESSAREX_STDCALL tessarex_cert_import(void* parent, const char* file, const char* password,
                                                     const uint32_t* options, char* message,
                                                     uint32_t message_size) {
  GiveMessage("", message, message_size);
  if (options == nullptr) return tx::ConditionCode(tx::Cls::BadArgument, 0, 0x01);
  uint32_t flags = options[0];
  uint32_t store = options[1];
  if (store > TESSAREX_CERT_ADDRESSBOOK) return tx::ConditionCode(tx::Cls::BadOption, 0, 0x01);
  return tx::frame::RunExport(parent, flags, [&](tx::frame::CallFrame& frame) -> tx::StatusCode {
    tx::platform::WidePath checked;
    if (tx::StatusCode code = tx::frame::ToWidePath(file, checked)) return code;
    auto target = store == TESSAREX_CERT_MY            ? tx::ui::ImportTarget::My
                  : store == TESSAREX_CERT_ADDRESSBOOK ? tx::ui::ImportTarget::AddressBook
                                                       : tx::ui::ImportTarget::Automatic;
    std::string stored;
    tx::StatusCode code = tx::ui::ImportCertificateFile(
        file, target, password, (frame.flags() & tx::frame::CallFrame::kFlagAskPassword) != 0, stored);
    GiveMessage(stored, message, message_size);
    return code;
  });
}

TessarexStatus TESSAREX_STDCALL tessarex_cert_list(void* parent, char* output, uint32_t output_size) {
  return tx::frame::RunExport(parent, 0, [&](tx::frame::CallFrame&) -> tx::StatusCode {
    if (output == nullptr || output_size == 0) return 0;
    tx::frame::ListingText listing(output, output_size);
    // Line by line, so a short buffer keeps the text as far as it got.
    const std::string text = tx::ui::CertificateListing();
    for (size_t start = 0; start < text.size();) {
      size_t end = text.find('\n', start);
      end = end == std::string::npos ? text.size() : end + 1;
      if (tx::StatusCode code = listing.Add(text.substr(start, end - start))) return code;
      start = end;
    }
    return 0;
  });
}

TessarexStatus TESSAREX_STDCALL tessarex_cert_remove(void* parent, const char* id, char* message,
                                                     uint32_t message_size) {
  GiveMessage("", message, message_size);
  return tx::frame::RunExport(parent, 0, [&](tx::frame::CallFrame&) -> tx::StatusCode {
    std::string text;
    tx::StatusCode code = tx::ui::RemoveCertificate(id != nullptr ? id : "", text);
    GiveMessage(text, message, message_size);
    return code;
  });
}

TessarexStatus TESSAREX_STDCALL tessarex_choose_certificates(const char* recipients, const char* signer,
                                                             char* message, uint32_t message_size) {
  GiveMessage("", message, message_size);
  return tx::frame::RunExport(nullptr, 0, [&](tx::frame::CallFrame&) -> tx::StatusCode {
    std::string text;
    tx::StatusCode code =
        tx::ui::PresetCertificateChoice(IdLines(recipients), signer != nullptr ? signer : "", text);
    GiveMessage(text, message, message_size);
    return code;
  });
}

}  // extern "C"
