#include "platform/cert_files.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <utility>

#include "platform/failure.h"
#include "platform/system.h"

namespace tx::platform {

namespace {

struct Fd {
  int fd = -1;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
};

// The data folder without its trailing "/": $XDG_DATA_HOME when it is an absolute path
// (a relative one is ignored, as the base directory rules say), else HOME/.local/share.
bool DataFolder(std::string& folder) {
  const char* xdg = ::getenv("XDG_DATA_HOME");
  if (xdg != nullptr && xdg[0] == '/') {
    folder = xdg;
  } else {
    const char* home = ::getenv("HOME");
    if (home != nullptr && home[0] != 0) {
      folder = home;
    } else {
      // A service or a sanitised environment may run without HOME.
      long hint = ::sysconf(_SC_GETPW_R_SIZE_MAX);
      std::vector<char> buffer(hint > 0 ? static_cast<size_t>(hint) : 16384);
      struct passwd entry {};
      struct passwd* found = nullptr;
      if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr ||
          found->pw_dir == nullptr || found->pw_dir[0] != '/')
        return false;
      folder = found->pw_dir;
    }
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    folder.append("/.local/share");
  }
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return true;
}

// Reads an open file of at most kCertFileLimit bytes; false when it is not a regular file,
// too large, or a read fails.
bool ReadOpen(int fd, CertFile& file) {
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
  if (static_cast<uint64_t>(st.st_size) > kCertFileLimit) {
    errno = EFBIG;
    return false;
  }
  file.mode = st.st_mode & 07777;
  file.bytes.assign(static_cast<size_t>(st.st_size), 0);
  size_t done = 0;
  while (done < file.bytes.size()) {
    ssize_t n = ::read(fd, file.bytes.data() + done, file.bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Makes each missing folder of `path` (absolute, ending in "/") with mode 0700.
bool MakeFolders(const std::string& path) {
  for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
    std::string part = path.substr(0, slash);
    if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
      NoteFailure(part);
      return false;
    }
  }
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    if (errno == 0) errno = ENOTDIR;
    NoteFailure(path);
    return false;
  }
  return true;
}

bool PlainName(const std::string& name) {
  return !name.empty() && name[0] != '.' && name.find('/') == std::string::npos;
}

bool WriteAll(int fd, const uint8_t* data, size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

CertFile::~CertFile() {
  if (!bytes.empty()) WipeMemory(bytes.data(), bytes.size());
}

bool CertStoreFolder(CertStore store, std::string& folder) {
  if (!DataFolder(folder)) return false;
  folder.append(store == CertStore::My ? "/tessarex/certificates/my/"
                                       : "/tessarex/certificates/addressbook/");
  return true;
}

bool ReadCertStore(CertStore store, std::vector<CertFile>& files) {
  files.clear();
  std::string folder;
  if (!CertStoreFolder(store, folder)) return false;
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return false;
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(dir))
    if (entry->d_name[0] != '.') names.emplace_back(entry->d_name);
  ::closedir(dir);
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    CertFile file;
    file.name = name;
    file.path = folder + name;
    // O_NOFOLLOW: a link could point a store at any file; O_NONBLOCK: a FIFO must not hang us.
    Fd fd{::open(file.path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC)};
    if (fd.fd >= 0 && ReadOpen(fd.fd, file)) files.push_back(std::move(file));
  }
  return true;
}

bool ReadCertFile(const std::string& path, CertFile& file) {
  file = CertFile{};
  file.path = path;
  size_t slash = path.rfind('/');
  file.name = slash == std::string::npos ? path : path.substr(slash + 1);
  Fd fd{::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)};
  errno = 0;
  if (fd.fd < 0 || !ReadOpen(fd.fd, file)) {
    if (errno == 0) errno = EINVAL;  // not a regular file
    NoteFailure(path);
    file.bytes.clear();
    return false;
  }
  return true;
}

bool WriteCertFile(CertStore store, const std::string& name, const uint8_t* data, size_t size,
                   std::string& path) {
  std::string folder;
  if (!PlainName(name) || !CertStoreFolder(store, folder) || !MakeFolders(folder)) return false;
  path = folder + name;
  // Created 0600 whatever the store, so a private key is never readable for a moment.
  std::string temporary;
  Fd fd;
  for (unsigned attempt = 0; attempt < 16 && fd.fd < 0; ++attempt) {
    uint32_t random = 0;
    if (::getrandom(&random, sizeof random, GRND_NONBLOCK) != sizeof random)
      random = static_cast<uint32_t>(::getpid()) * 2654435761u + attempt;
    temporary = folder + "." + name + ".tessarex-" + std::to_string(random);
    fd.fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd.fd < 0 && errno != EEXIST) break;
  }
  if (fd.fd < 0) {
    NoteFailure(path);
    return false;
  }
  mode_t mode = store == CertStore::My ? 0600 : 0644;
  bool ok = ::fchmod(fd.fd, mode) == 0 && WriteAll(fd.fd, data, size) && ::fsync(fd.fd) == 0;
  ok = ::close(std::exchange(fd.fd, -1)) == 0 && ok;
  if (ok && ::rename(temporary.c_str(), path.c_str()) == 0) {
    Fd dir{::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    if (dir.fd >= 0) ::fsync(dir.fd);
    return true;
  }
  NoteFailure(path);
  ::unlink(temporary.c_str());
  return false;
}

bool RemoveCertFile(CertStore store, const std::string& name) {
  std::string folder;
  if (!PlainName(name) || !CertStoreFolder(store, folder)) return false;
  std::string path = folder + name;
  if (::unlink(path.c_str()) != 0) {
    NoteFailure(path);
    return false;
  }
  return true;
}

}  // namespace tx::platform
