#include "platform/directory.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <string>

#include "platform/failure.h"
#include "platform/file.h"
#include "platform/text.h"

namespace tx::platform {

namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// A folder that may be crossed but not listed can still be written through.
int OpenFolderAt(int at, const char* name) {
  int fd;
  do fd = ::openat(at, name, kFolderFlags);
  while (fd < 0 && errno == EINTR);
  if (fd < 0 && errno == EACCES) fd = ::openat(at, name, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  return fd;
}

Beneath Classify(int at, const char* name) {
  struct stat st;
  if (::fstatat(at, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
    return errno == ENOENT ? Beneath::Missing : Beneath::Failed;
  if (S_ISLNK(st.st_mode)) return Beneath::Link;
  return S_ISDIR(st.st_mode) ? Beneath::Failed : Beneath::NotADirectory;
}

// The kernel resolves the whole path in one call where it can, refusing links and escapes;
// any failure falls back to the walk, which tells what stood in the way.
int OpenWhole(int root, const std::string& path) {
#ifdef SYS_openat2
  struct open_how how = {};
  how.flags = kFolderFlags;
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
  long fd;
  do fd = ::syscall(SYS_openat2, root, path.c_str(), &how, sizeof how);
  while (fd < 0 && errno == EINTR);
  return static_cast<int>(fd);
#else
  (void)root;
  (void)path;
  return -1;
#endif
}

}  // namespace

Directory::~Directory() { Close(); }

Directory& Directory::operator=(Directory&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

void Directory::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool Directory::Open(const char16_t* path) {
  Close();
  std::string name;
  if (path == nullptr || !Utf16ToUtf8(path, name) || name.empty()) return false;
  int fd;
  do fd = ::open(name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  while (fd < 0 && errno == EINTR);
  if (fd < 0 && errno == EACCES) fd = ::open(name.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) NoteFailure(name);
  fd_ = fd;
  return fd_ >= 0;
}

bool Directory::GetWriteTime(FileTime& time) const {
  struct statx sx;
  if (fd_ < 0 || ::statx(fd_, "", AT_EMPTY_PATH, STATX_MTIME, &sx) != 0) return false;
  time = FileTimeFromUnixNanos(sx.stx_mtime.tv_sec, sx.stx_mtime.tv_nsec);
  return true;
}

bool Directory::SetWriteTime(FileTime time) { return fd_ >= 0 && detail::SetWriteTimeOf(fd_, time); }

Beneath OpenBeneath(const Directory& root, const char16_t* relative, size_t length, bool create,
                    Directory& out) {
  out.Close();
  if (!root.IsOpen()) return Beneath::Failed;
  std::string path;
  if (!Utf16ToUtf8(relative, length, path)) return Beneath::Failed;
  if (path.find('\0') != std::string::npos) return Beneath::Failed;
  // ".." is refused even where it would stay inside, so both ways below agree.
  for (size_t at = path.find(".."); at != std::string::npos; at = path.find("..", at + 1)) {
    bool starts = at == 0 || path[at - 1] == '/';
    bool ends = at + 2 == path.size() || path[at + 2] == '/';
    if (starts && ends) return Beneath::Failed;
  }

  int whole = path.empty() ? -1 : OpenWhole(root.fd_, path);
  if (whole >= 0) {
    out.fd_ = whole;
    return Beneath::Ok;
  }
  int current = ::fcntl(root.fd_, F_DUPFD_CLOEXEC, 0);
  if (current < 0) return Beneath::Failed;
  Directory holder;
  holder.fd_ = current;
  for (size_t start = 0; start <= path.size();) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    std::string part = path.substr(start, end - start);
    start = end + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") return Beneath::Failed;
    int fd = OpenFolderAt(holder.fd_, part.c_str());
    if (fd < 0 && errno == ENOENT && create) {
      if (::mkdirat(holder.fd_, part.c_str(), 0777) != 0 && errno != EEXIST) return Beneath::Failed;
      fd = OpenFolderAt(holder.fd_, part.c_str());
    }
    if (fd < 0) {
      NoteFailure(path.substr(0, end));
      return Classify(holder.fd_, part.c_str());
    }
    holder.Close();
    holder.fd_ = fd;
  }
  out = std::move(holder);
  return Beneath::Ok;
}

EntryKind KindAt(const Directory& dir, const char16_t* name) {
  std::string text;
  struct stat st;
  if (!dir.IsOpen() || !Utf16ToUtf8(name, text) || text.empty()) return EntryKind::Missing;
  if (::fstatat(dir.native(), text.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return EntryKind::Missing;
  if (S_ISLNK(st.st_mode)) return EntryKind::Link;
  if (S_ISDIR(st.st_mode)) return EntryKind::Folder;
  return S_ISREG(st.st_mode) ? EntryKind::File : EntryKind::Other;
}

}  // namespace tx::platform
