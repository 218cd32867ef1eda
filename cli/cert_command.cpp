// tessarex cert import|list|remove
#include <cstdint>
#include <cstdio>
#include <string_view>

#include "cli/family.h"
#include "tessarex.h"

namespace tx::cli {

namespace {

const char* kUsage =
    "usage: tessarex [OPTIONS] cert COMMAND ...\n"
    "  cert import FILE [--my|--addressbook]   copy the certificates of a PEM, DER or\n"
    "                               PKCS#12 file into a store (tessarex_cert_import):\n"
    "                               \"my\" (yours, with the private key; the default when\n"
    "                               the file holds a key) or \"addressbook\" (certificates\n"
    "                               only). A file holding a key must not be readable by\n"
    "                               group or others (chmod 600 FILE).\n"
    "  cert list                    list both stores (tessarex_cert_list)\n"
    "  cert remove ID               remove a certificate (tessarex_cert_remove)\n"
    "ID: a SHA-1 fingerprint or a serial number in hex, or a part of the subject; it must\n"
    "  name one certificate (the candidates are shown otherwise)\n"
    "stores: $XDG_DATA_HOME/tessarex/certificates/my/ and .../addressbook/\n"
    "  (~/.local/share/tessarex/... without XDG_DATA_HOME)\n"
    "PKCS#12 password: --password P, --password-file F (its first line) or --password-fd N,\n"
    "  or --ask-password before the command; by default the empty password\n";

constexpr OptionSpec kOptions[] = {
    {"--my", Kind::Flag, "store", {}, TESSAREX_CERT_MY},
    {"--addressbook", Kind::Flag, "store", {}, TESSAREX_CERT_ADDRESSBOOK},
};

// Success prints the library's message on stdout; a failure its status, then the message
// (the candidates an id could mean) on stderr.
int Finish(const char* what, uint32_t code, const char* message) {
  if (code == 0) {
    std::fputs(message, stdout);
    return 0;
  }
  int status = Outcome(what, code);
  std::fputs(message, stderr);
  return status;
}

int Import(const CommonOptions& common, std::string_view, Parsed& a) {
  uint32_t store = a.Value("store", TESSAREX_CERT_AUTOMATIC);
  if (store == (TESSAREX_CERT_MY | TESSAREX_CERT_ADDRESSBOOK))
    return UsageError(kUsage, "--my and --addressbook exclude each other");
  uint32_t options[2] = {common.flags, store};
  char message[16384];
  uint32_t code =
      tessarex_cert_import(nullptr, a.positional[0], a.password.get(), options, message, sizeof message);
  return Finish(a.positional[0], code, message);
}

int List(const CommonOptions&, std::string_view, Parsed&) {
  return PrintListing("certificate stores",
                      [](char* buffer, uint32_t size) { return tessarex_cert_list(nullptr, buffer, size); });
}

int Remove(const CommonOptions&, std::string_view, Parsed& a) {
  char message[65536];
  uint32_t code = tessarex_cert_remove(nullptr, a.positional[0], message, sizeof message);
  return Finish(a.positional[0], code, message);
}

constexpr Subcommand kCommands[] = {
    {"import", 1, "import needs FILE", Import},
    {"list", 0, "list takes no arguments", List},
    {"remove", 1, "remove needs ID", Remove},
};

}  // namespace

int CertCommand(const CommonOptions& common, int argc, char** argv) {
  return RunFamily({"cert", kUsage, kOptions, kCommands}, common, argc, argv);
}

}  // namespace tx::cli
