#include "platform/fs.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <string>

#include "platform/failure.h"
#include "platform/file.h"
#include "platform/open_files.h"

namespace tx::platform {

namespace {

constexpr size_t kCopyBlock = 65536;

bool ToUtf8(const char16_t* path, std::string& out) {
  return path != nullptr && Utf16ToUtf8(path, out) && !out.empty();
}

// Owns a descriptor; closing errors matter only where the caller checks Close().
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() { Close(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  bool Close() {
    if (fd_ < 0) return true;
    int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

// Removes a file on scope exit unless released: no partial output survives a failure.
class RemoveOnExit {
 public:
  explicit RemoveOnExit(std::string path) : path_(std::move(path)) {}
  ~RemoveOnExit() {
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  RemoveOnExit(const RemoveOnExit&) = delete;
  RemoveOnExit& operator=(const RemoveOnExit&) = delete;
  void Release() { path_.clear(); }

 private:
  std::string path_;
};

bool WriteAll(int fd, const unsigned char* p, size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, p, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool CopyData(int from, int to) {
  auto buffer = std::make_unique<unsigned char[]>(kCopyBlock);
  for (;;) {
    ssize_t n = ::read(from, buffer.get(), kCopyBlock);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return true;
    if (!WriteAll(to, buffer.get(), static_cast<size_t>(n))) return false;
  }
}

// rename(2) that never replaces an existing target, so a move cannot destroy a file
// silently. File systems without RENAME_NOREPLACE get a check before the rename.
bool RenameNoReplace(const char* from, const char* to) {
  if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  struct stat st;
  if (::lstat(to, &st) == 0) {
    errno = EEXIST;
    return false;
  }
  return ::rename(from, to) == 0;
}

std::string ParentOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// A regular file moved to another file system: copy beside the target, flush, rename
// into place, then remove the source (or undo the move if that fails).
bool MoveAcross(const std::string& from, const std::string& to) {
  struct stat st;
  if (::lstat(to.c_str(), &st) == 0) return false;  // not worth copying only to be refused
  Fd source(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
  if (source.get() < 0 || ::fstat(source.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;

  std::string temp = ParentOf(to) + ".tx-move-XXXXXX";
  Fd target(::mkostemp(temp.data(), O_CLOEXEC));
  if (target.get() < 0) return false;
  RemoveOnExit remove_temp(temp);
  struct timespec times[2] = {st.st_atim, st.st_mtim};
  if (!CopyData(source.get(), target.get()) || ::fchmod(target.get(), st.st_mode & 07777) != 0 ||
      ::futimens(target.get(), times) != 0 || ::fsync(target.get()) != 0 || !target.Close()) {
    return false;
  }
  if (!RenameNoReplace(temp.c_str(), to.c_str())) return false;
  remove_temp.Release();

  // Make the new name durable before the only other copy goes away.
  std::string dir = ParentOf(to);
  Fd dir_fd(::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir_fd.get() >= 0) ::fsync(dir_fd.get());
  if (::unlink(from.c_str()) != 0) {
    ::unlink(to.c_str());
    return false;
  }
  return true;
}

}  // namespace

namespace {

// The process umask, read without changing it (umask(2) can only be read by setting it,
// which would race with other threads creating files).
bool ReadUmaskNow(uint32_t& mask) {
  Fd fd(::open("/proc/self/status", O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) return false;
  char text[4096];
  ssize_t n = ::read(fd.get(), text, sizeof(text) - 1);
  if (n <= 0) return false;
  text[n] = 0;
  const char* line = std::strstr(text, "\nUmask:");
  if (line == nullptr) return false;
  char* end;
  unsigned long value = std::strtoul(line + 7, &end, 8);
  if (end == line + 7) return false;
  mask = static_cast<uint32_t>(value & 0777);
  return true;
}

// The umask as last read, or kUmaskUnknown; kUmaskUnreadable when /proc had none.
constexpr int kUmaskUnknown = -1;
constexpr int kUmaskUnreadable = -2;
std::atomic<int> g_umask{kUmaskUnknown};

}  // namespace

void RereadUmask() { g_umask.store(kUmaskUnknown, std::memory_order_relaxed); }

namespace detail {

bool ReadUmask(uint32_t& mask) {
  int known = g_umask.load(std::memory_order_relaxed);
  if (known == kUmaskUnknown) {
    known = ReadUmaskNow(mask) ? static_cast<int>(mask) : kUmaskUnreadable;
    g_umask.store(known, std::memory_order_relaxed);
  }
  if (known < 0) return false;
  mask = static_cast<uint32_t>(known);
  return true;
}

bool FileInfoAt(int directory_fd, const char* name, FileInfo& info) {
  struct statx sx;
  if (::statx(directory_fd, name, 0, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0) return false;
  info = FileInfo();
  if (S_ISDIR(sx.stx_mode)) {
    info.attributes = kAttrDirectory;
  } else if (S_ISREG(sx.stx_mode)) {
    info.attributes = kAttrArchive;
    info.size = sx.stx_size;
  }
  if (info.attributes != 0 && (sx.stx_mode & S_IWUSR) == 0) info.attributes |= kAttrReadOnly;
  if (sx.stx_mask & STATX_BTIME) {
    info.creation = FileTimeFromUnixNanos(sx.stx_btime.tv_sec, sx.stx_btime.tv_nsec);
  }
  info.last_access = FileTimeFromUnixNanos(sx.stx_atime.tv_sec, sx.stx_atime.tv_nsec);
  info.last_write = FileTimeFromUnixNanos(sx.stx_mtime.tv_sec, sx.stx_mtime.tv_nsec);
  info.device = makedev(sx.stx_dev_major, sx.stx_dev_minor);
  info.inode = sx.stx_ino;
  return true;
}

}  // namespace detail

bool GetFileInfo(const char16_t* path, FileInfo& info) {
  std::string name;
  if (!ToUtf8(path, name)) return false;
  if (detail::FileInfoAt(AT_FDCWD, name.c_str(), info)) return true;
  NoteFailure(name);
  return false;
}

namespace {
bool Identify(const std::string& name, FileIdentity& id) {
  struct stat st;
  if (::stat(name.c_str(), &st) != 0) return false;
  id = {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
  return true;
}
}  // namespace

bool DeleteFile(const char16_t* path) {
  std::string name;
  if (!ToUtf8(path, name)) return false;
  // A file this process holds open is not deleted, as on Windows.
  FileIdentity id;
  if (Identify(name, id) && IsOpenHere(id)) return false;
  if (::unlink(name.c_str()) == 0) return true;
  NoteFailure(name);
  return false;
}

bool SameFile(const char16_t* a, const char16_t* b) {
  std::string first, second;
  FileIdentity x, y;
  return ToUtf8(a, first) && ToUtf8(b, second) && Identify(first, x) && Identify(second, y) && x == y;
}

bool MoveFile(const char16_t* from, const char16_t* to) {
  std::string source, target;
  if (!ToUtf8(from, source) || !ToUtf8(to, target)) return false;
  if (RenameNoReplace(source.c_str(), target.c_str())) return true;
  if (errno == EXDEV && MoveAcross(source, target)) return true;
  NoteFailure(target);
  return false;
}

bool CreateDirectory(const char16_t* path) {
  std::string name;
  if (!ToUtf8(path, name)) return false;
  if (::mkdir(name.c_str(), 0777) == 0) return true;
  NoteFailure(name);
  return false;
}

bool CurrentDirectory(WidePath& out) {
  out.units[0] = 0;
  // 1023 units take at most 3069 bytes of UTF-8, so a longer directory fails either way.
  char buffer[4096];
  if (::getcwd(buffer, sizeof(buffer)) == nullptr) return false;
  return Utf8ToUtf16(buffer, out.units, kWidePathUnits);
}

bool TempPath(WidePath& out) {
  out.units[0] = 0;
  const char* dir = ::getenv("TMPDIR");
  if (dir == nullptr || dir[0] == 0) dir = "/tmp/";
  if (!Utf8ToUtf16(dir, out.units, kWidePathUnits)) return false;
  size_t n = out.length();
  if (out.units[n - 1] == u'/') return true;
  if (n + 2 > kWidePathUnits) {
    out.units[0] = 0;
    return false;
  }
  out.units[n] = u'/';
  out.units[n + 1] = 0;
  return true;
}

bool TempFileName(const char16_t* directory, const char16_t* prefix, WidePath& out) {
  out.units[0] = 0;
  std::string name, head;
  if (!ToUtf8(directory, name) || (prefix != nullptr && !Utf16ToUtf8(prefix, head))) return false;
  if (name.back() != '/') name += '/';
  name += head;
  name += "XXXXXX";
  // Check the length before anything is created: the unique part is ASCII.
  if (!Utf8ToUtf16(name.c_str(), out.units, kWidePathUnits)) return false;
  Fd fd(::mkostemp(name.data(), O_CLOEXEC));
  if (fd.get() < 0) {
    out.units[0] = 0;
    return false;
  }
  RemoveOnExit remove(name);
  // mkstemp makes the file private; it often becomes an archive, so give it the
  // permissions any new file would get.
  RereadUmask();
  uint32_t mask;
  if (detail::ReadUmask(mask)) ::fchmod(fd.get(), static_cast<mode_t>(0666 & ~mask));
  if (!fd.Close() || !Utf8ToUtf16(name.c_str(), out.units, kWidePathUnits)) {
    out.units[0] = 0;
    return false;
  }
  remove.Release();
  return true;
}

bool PrivateTempFolder(const char16_t* prefix, WidePath& out) {
  out.units[0] = 0;
  WidePath base;
  std::string name, head;
  if (!TempPath(base) || !ToUtf8(base.c_str(), name) || !Utf16ToUtf8(prefix, head)) return false;
  if (name.back() != '/') name += '/';
  name += head;
  name += "XXXXXX";
  if (!Utf8ToUtf16(name.c_str(), out.units, kWidePathUnits)) return false;
  // mkdtemp makes the folder 0700: nobody else may look at what passes through it.
  if (::mkdtemp(name.data()) == nullptr) {
    NoteFailure(name);
    out.units[0] = 0;
    return false;
  }
  return Utf8ToUtf16(name.c_str(), out.units, kWidePathUnits);
}

bool RemoveEmptyFolder(const char16_t* path) {
  std::string name;
  return ToUtf8(path, name) && ::rmdir(name.c_str()) == 0;
}

}  // namespace tx::platform
