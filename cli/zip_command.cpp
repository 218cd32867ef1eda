// tessarex zip pack|pack1|unpack|unpack1|list|add|delete|verify
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "cli/family.h"
#include "tessarex.h"

namespace tx::cli {

namespace {

constexpr Named kMethods[] = {{"store", 0}, {"deflate", 8}, {"bzip2", 12}};
constexpr Named kEncryptions[] = {{"none", 0}, {"ae1", 1},   {"ae2", 2},
                                  {"auto", 3}, {"3des", 11}, {"aes", 12}};
constexpr Named kKeyLengths[] = {{"128", 16}, {"192", 24}, {"256", 32}};
constexpr Named kSignings[] = {{"none", 0}, {"directory", 1}, {"members", 2}, {"both", 3}};
constexpr Named kDigests[] = {{"md5", 1}, {"sha1", 2}};

const char* kUsage =
    "usage: tessarex [OPTIONS] zip COMMAND ...\n"
    "  zip pack ARCHIVE SOURCE      pack a file, a folder or a wildcard pattern (zip_pack2)\n"
    "  zip pack --list-file ARCHIVE LIST   pack the names of a list file (zip_pack2)\n"
    "  zip pack1 ARCHIVE FILE       pack exactly one file (zip_pack1)\n"
    "  zip unpack ARCHIVE [--to DIR] [--filter PATTERN]   extract (zip_unpack2;\n"
    "                               DIR is made when missing)\n"
    "  zip unpack1 ARCHIVE [--to DIR]   extract a one-member archive (zip_unpack1)\n"
    "  zip list ARCHIVE             print the listing (zip_list)\n"
    "  zip add DESTINATION SOURCE [--filter PATTERN] [--replace-always|--replace-newer]\n"
    "                               copy SOURCE's members into DESTINATION (zip_add;\n"
    "                               by default only names DESTINATION lacks)\n"
    "  zip delete ARCHIVE --filter PATTERN   remove the members PATTERN matches (zip_delete)\n"
    "  zip verify ARCHIVE           check every signature and name each signer, with whether\n"
    "                               your stores or the system trust its certificate\n"
    "update options: --work-folder DIR (checked; the new archive is written beside the old)\n"
    "pack options: --method store|deflate|bzip2 (deflate)  --level 1-9 (6)\n"
    "  --encryption none|ae1|ae2|auto|3des|aes (auto with a password, else none)\n"
    "  --key-length 128|192|256 (256)  --iv-length N (16)  --validation-length N (16)\n"
    "  --strong-flags N (1: password)  --compress-directory  --encrypt-directory\n"
    "  --sign none|directory|members|both (none)  --sign-digest md5|sha1 (sha1)\n"
    "  --ntfs-times  --utf8-names  --demand-encryption\n"
    "  (--encrypt-directory needs 3des or aes; --strong-flags 2 encrypts for the\n"
    "  recipients' certificates, 3 for them or the password; 0x100 adds PKCS#1 v1.5)\n"
    "  --recipient ID (repeatable)  --signer ID   answer the certificate pickers\n"
    "  (tessarex_choose_certificates): ID is a SHA-1 fingerprint or serial in hex, or a\n"
    "  part of the subject, naming one certificate of the stores (see tessarex cert);\n"
    "  at most 14 RSA-2048, 9 RSA-3072, 7 RSA-4096 or 25 RSA-1024 recipients fit\n"
    "common: --password P, --password-file F (its first line) or --password-fd N\n"
    "  (the first line read from descriptor N), or --ask-password before the command\n";

constexpr OptionSpec kOptions[] = {
    {"--to", Kind::Text},
    {"--filter", Kind::Text},
    {"--method", Kind::Choice, nullptr, kMethods},
    {"--level", Kind::Number},
    {"--encryption", Kind::Choice, nullptr, kEncryptions},
    {"--key-length", Kind::Choice, nullptr, kKeyLengths},
    {"--iv-length", Kind::Number},
    {"--validation-length", Kind::Number},
    {"--strong-flags", Kind::Number},
    {"--sign", Kind::Choice, nullptr, kSignings},
    {"--sign-digest", Kind::Choice, nullptr, kDigests},
    {"--compress-directory", Kind::Flag, "directory", {}, TESSAREX_ZIP_COMPRESS_DIRECTORY},
    {"--encrypt-directory", Kind::Flag, "directory", {}, TESSAREX_ZIP_ENCRYPT_DIRECTORY},
    {"--ntfs-times", Kind::Flag},
    {"--utf8-names", Kind::Flag},
    {"--demand-encryption", Kind::Flag},
    {"--list-file", Kind::Flag},
    {"--work-folder", Kind::Text},
    {"--replace-always", Kind::Flag, "replace", {}, TESSAREX_ZIP_ADD_ALWAYS},
    {"--replace-newer", Kind::Flag, "replace", {}, TESSAREX_ZIP_ADD_NEWER},
};

// The --recipient ids (one per line) and the --signer id of the command line.
std::string g_recipients;
const char* g_signer = nullptr;

// Presets the pickers' answers; false after reporting an id that names no or several
// certificates.
bool ChooseCertificates() {
  if (g_recipients.empty() && g_signer == nullptr) return true;
  char message[65536];
  uint32_t code = tessarex_choose_certificates(g_recipients.empty() ? nullptr : g_recipients.c_str(),
                                               g_signer, message, sizeof message);
  if (code == 0) return true;
  Outcome("certificate choice", code);
  std::fputs(message, stderr);
  return false;
}

// Takes the certificate options out of the arguments: --recipient may come many times,
// which the option table cannot hold. False with `problem` set on a misuse.
bool TakeCertificateOptions(int& argc, char** argv, std::string& problem) {
  int kept = 0;
  for (int i = 0; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg != "--recipient" && arg != "--signer") {
      argv[kept++] = argv[i];
      continue;
    }
    std::string_view command = argc > 0 ? argv[0] : "";
    if (command != "pack" && command != "pack1")
      return problem = std::string(arg).append(" is a pack option"), false;
    if (i + 1 >= argc || argv[i + 1][0] == 0) return problem = std::string(arg).append(" needs ID"), false;
    const char* id = argv[++i];
    if (arg == "--signer") {
      if (g_signer != nullptr) return problem = "--signer is given once", false;
      g_signer = id;
    } else {
      g_recipients.append(id).append("\n");
    }
  }
  argc = kept;
  return true;
}

int Pack(const CommonOptions& common, std::string_view name, Parsed& a) {
  if (!ChooseCertificates()) return 1;
  const char* password = a.password.get();
  // Encryption is what a password is given for, unless another kind is chosen.
  bool secret = password || (common.flags & TESSAREX_FLAG_ASK_PASSWORD);
  uint32_t options[15] = {
      a.Value("demand-encryption"),
      common.flags,
      a.Value("method", TESSAREX_ZIP_DEFLATE),
      a.Value("level", 6),
      a.Value("directory"),
      a.Value("encryption", secret ? TESSAREX_ZIP_AE_AUTOMATIC : TESSAREX_ZIP_NO_ENCRYPTION),
      a.Value("key-length", 32),
      a.Value("iv-length", 16),
      a.Value("validation-length", 16),
      a.Value("strong-flags", 1),
      a.Value("sign"),
      a.Value("sign-digest", 2),
      a.Value("ntfs-times"),
      a.Value("utf8-names"),
      a.Value("list-file")};
  const char* archive = a.positional[0];
  std::string source = name == "pack" && !options[14] ? PackSource(a.positional[1]) : a.positional[1];
  uint32_t code = name == "pack" ? zip_pack2(nullptr, archive, source.c_str(), password, options)
                                 : zip_pack1(nullptr, archive, source.c_str(), password, options);
  return Outcome(archive, code);
}

int Unpack(const CommonOptions& common, std::string_view name, Parsed& a) {
  if (!MakeOutputFolder(a.Text("to"))) return 1;
  uint32_t options[2] = {a.Value("demand-encryption"), common.flags};
  const char* archive = a.positional[0];
  uint32_t code = name == "unpack" ? zip_unpack2(nullptr, archive, a.Text("to"), a.Text("filter"),
                                                 a.password.get(), options)
                                   : zip_unpack1(nullptr, archive, a.Text("to"), a.password.get(), options);
  return Outcome(archive, code);
}

int List(const CommonOptions& common, std::string_view, Parsed& a) {
  uint32_t options[1] = {common.flags};
  return PrintListing(a.positional[0], [&](char* buffer, uint32_t size) {
    return zip_list(nullptr, a.positional[0], a.password.get(), buffer, size, options);
  });
}

int Add(const CommonOptions& common, std::string_view, Parsed& a) {
  // Both replacement flags together name no rule.
  uint32_t options[2] = {common.flags, a.Value("replace")};
  const char* archive = a.positional[0];
  return Outcome(archive, zip_add(nullptr, archive, a.positional[1], a.Text("work-folder"), a.Text("filter"),
                                  a.password.get(), options));
}

int Delete(const CommonOptions& common, std::string_view, Parsed& a) {
  // Without a filter every member would go; that is asked for with --filter '*'.
  if (a.Text("filter") == nullptr) {
    std::fprintf(stderr, "tessarex: zip delete needs --filter PATTERN\n");
    return 2;
  }
  uint32_t options[1] = {common.flags};
  const char* archive = a.positional[0];
  return Outcome(archive, zip_delete(nullptr, archive, a.Text("work-folder"), a.Text("filter"),
                                     a.password.get(), options));
}

// Prints the report even when a signature fails: it says which one and who signed.
int Verify(const CommonOptions& common, std::string_view, Parsed& a) {
  constexpr uint32_t kTooSmall = 0x00280000;
  const char* archive = a.positional[0];
  for (uint32_t size = 1 << 16;; size *= 4) {
    std::vector<char> text(size);
    uint32_t code = tessarex_zip_verify(nullptr, archive, a.password.get(), text.data(), size, common.flags);
    if ((code & 0xFFFF0000u) == kTooSmall && size < (1u << 30)) continue;
    std::fputs(text.data(), stdout);
    return Outcome(archive, code);
  }
}

constexpr Subcommand kCommands[] = {
    {"pack", 2, "pack needs ARCHIVE and SOURCE", Pack},
    {"pack1", 2, "pack1 needs ARCHIVE and FILE", Pack},
    {"unpack", 1, "unpack needs ARCHIVE", Unpack},
    {"unpack1", 1, "unpack1 needs ARCHIVE", Unpack},
    {"list", 1, "list needs ARCHIVE", List},
    {"add", 2, "add needs DESTINATION and SOURCE", Add},
    {"delete", 1, "delete needs ARCHIVE", Delete},
    {"verify", 1, "verify needs ARCHIVE", Verify},
};

}  // namespace

int ZipCommand(const CommonOptions& common, int argc, char** argv) {
  std::string problem;
  if (!TakeCertificateOptions(argc, argv, problem)) return UsageError(kUsage, problem.c_str());
  return RunFamily({"zip", kUsage, kOptions, kCommands}, common, argc, argv);
}

}  // namespace tx::cli
