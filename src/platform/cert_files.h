// The folders that hold the user's certificate stores, and their files. "my" holds the
// user's own certificates with their private keys, "addressbook" other people's
// certificates; both live under the user's data folder:
// $XDG_DATA_HOME/tessarex/certificates/{my,addressbook}/ (else ~/.local/share/..., the
// home folder taken from the user database when HOME is unset).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tx::platform {

enum class CertStore { My, AddressBook };

// A store file larger than this is not a certificate and is skipped unread.
inline constexpr size_t kCertFileLimit = size_t{1} << 20;

// One file of a store, or a file to import. Its bytes may hold a private key, so they
// are wiped when the object goes.
struct CertFile {
  CertFile() = default;
  ~CertFile();
  CertFile(CertFile&&) = default;
  CertFile& operator=(CertFile&&) = default;

  std::string path;  // UTF-8, as the system names it
  std::string name;  // the last component
  std::vector<uint8_t> bytes;
  uint32_t mode = 0;  // permission bits (07777)
};

// The store's folder, ending in "/". False when no data folder can be found.
bool CertStoreFolder(CertStore store, std::string& folder);

// Every regular file of the store, in name order. Symbolic links, folders, devices,
// files above kCertFileLimit, files that cannot be read and names starting with "."
// (writes in progress) are skipped. False when the store's folder does not exist or
// cannot be read.
bool ReadCertStore(CertStore store, std::vector<CertFile>& files);

// One file named by the user (links followed): a regular file of at most kCertFileLimit
// bytes. False otherwise, with the failure noted.
bool ReadCertFile(const std::string& path, CertFile& file);

// Writes `name` into the store as a whole or not at all: a temporary file, flushed, then
// renamed over any file of that name. Missing folders of the store are made with mode
// 0700. The file gets mode 0600 in "my" (it holds a private key) and 0644 in
// "addressbook". On success `path` names the file written.
bool WriteCertFile(CertStore store, const std::string& name, const uint8_t* data, size_t size,
                   std::string& path);

// Removes a file of the store by its name.
bool RemoveCertFile(CertStore store, const std::string& name);

}  // namespace tx::platform
