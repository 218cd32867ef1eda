#include "platform/file.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/failure.h"
#include "platform/fs.h"
#include "platform/text.h"

namespace tx::platform {

namespace {

constexpr int64_t kUnixEpochAsFileTime = 116444736000000000LL;  // 1970-01-01 in 100 ns since 1601

}  // namespace

FileTime FileTimeFromUnixNanos(int64_t seconds, int64_t nanoseconds) {
  int64_t t = kUnixEpochAsFileTime + seconds * 10000000LL + nanoseconds / 100;
  return t < 0 ? 0 : static_cast<FileTime>(t);
}

void FileTimeToUnixNanos(FileTime time, int64_t& seconds, int64_t& nanoseconds) {
  int64_t rel = static_cast<int64_t>(time) - kUnixEpochAsFileTime;
  seconds = rel / 10000000LL;
  int64_t rest = rel % 10000000LL;
  if (rest < 0) {
    rest += 10000000LL;
    --seconds;
  }
  nanoseconds = rest * 100;
}

File::~File() { Close(); }

File::File(File&& other) noexcept
    : fd_(other.fd_),
      name_(std::move(other.name_)),
      id_(other.id_),
      writer_(other.writer_),
      mode_(other.mode_) {
  other.fd_ = -1;
}

bool File::Failed() const {
  NoteFailure(name_);
  return false;
}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    name_ = std::move(other.name_);
    id_ = other.id_;
    writer_ = other.writer_;
    mode_ = other.mode_;
    other.fd_ = -1;
  }
  return *this;
}

bool File::Open(const char16_t* path, Access access, Disposition disposition, bool sequential) {
  Close();
  std::string name;
  if (!Utf16ToUtf8(path, name) || name.empty()) return false;
  int flags = O_CLOEXEC;
  flags |= access == Access::Read ? O_RDONLY : access == Access::Write ? O_WRONLY : O_RDWR;
  switch (disposition) {
    case Disposition::OpenExisting: break;
    case Disposition::CreateAlways: flags |= O_CREAT; break;  // truncated once sharing allows it
    case Disposition::CreateNew: flags |= O_CREAT | O_EXCL; break;
    case Disposition::OpenAlways: flags |= O_CREAT; break;
  }
  int fd;
  do {
    // Non-blocking only while opening: a FIFO must not hang the call waiting for a peer.
    fd = ::open(name.c_str(), flags | O_NONBLOCK, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    NoteFailure(name);
    return false;
  }
  // Only regular files: a directory, device or pipe is not a file to read or write here.
  struct stat st;
  // O_NONBLOCK stays: it means nothing for the regular files that pass here.
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    if (errno == 0 || S_ISDIR(st.st_mode)) errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    NoteFailure(name);
    ::close(fd);
    return false;
  }
  FileIdentity id{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
  bool writer = access != Access::Read;
  if (!AdmitOpen(id, writer)) {
    errno = ETXTBSY;  // in use by this very call
    NoteFailure(name);
    ::close(fd);
    return false;
  }
  if (disposition == Disposition::CreateAlways && st.st_size != 0 && ::ftruncate(fd, 0) != 0) {
    ReleaseOpen(id, writer);
    ::close(fd);
    return false;
  }
  id_ = id;
  name_ = std::move(name);
  writer_ = writer;
  mode_ = st.st_mode & 07777;
  if (sequential) ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  fd_ = fd;
  return true;
}

bool File::Adopt(int fd, std::string name) {
  Close();
  name_ = std::move(name);
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
  FileIdentity id{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
  if (!AdmitOpen(id, true)) return false;
  fd_ = fd;
  id_ = id;
  writer_ = true;
  mode_ = st.st_mode & 07777;
  return true;
}

bool File::ReadPartial(void* buffer, size_t size, size_t& got) {
  got = 0;
  if (fd_ < 0) return false;
  auto* p = static_cast<unsigned char*>(buffer);
  while (got < size) {
    ssize_t n = ::read(fd_, p + got, size - got);
    if (n < 0) {
      if (errno == EINTR) continue;
      return Failed();
    }
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  return true;
}

bool File::ReadAt(uint64_t offset, void* buffer, size_t size) {
  if (fd_ < 0) return false;
  auto* p = static_cast<unsigned char*>(buffer);
  while (size > 0) {
    ssize_t n = ::pread(fd_, p, size, static_cast<off_t>(offset));
    if (n < 0) {
      if (errno == EINTR) continue;
      return Failed();
    }
    if (n == 0) {
      errno = 0;
      return Failed();
    }
    p += n;
    offset += static_cast<uint64_t>(n);
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool File::Read(void* buffer, size_t size) {
  size_t got;
  if (!ReadPartial(buffer, size, got)) return false;
  if (got == size) return true;
  errno = 0;
  return Failed();
}

bool File::Write(const void* buffer, size_t size) {
  if (fd_ < 0) return false;
  const auto* p = static_cast<const unsigned char*>(buffer);
  while (size > 0) {
    ssize_t n = ::write(fd_, p, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return Failed();
    }
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool File::SetModeFrom(const File& other) {
  struct stat st;
  if (fd_ < 0 || other.fd_ < 0 || ::fstat(other.fd_, &st) != 0) return false;
  if (::fchmod(fd_, st.st_mode & 07777) != 0) return false;
  mode_ = st.st_mode & 07777;
  return true;
}

bool File::CopyFrom(File& from, size_t size, size_t& copied) {
  copied = 0;
  if (fd_ < 0 || from.fd_ < 0) return false;
  for (;;) {
    ssize_t n = ::copy_file_range(from.fd_, nullptr, fd_, nullptr, size, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    copied = static_cast<size_t>(n);
    return true;
  }
}

bool File::Seek(int64_t offset, SeekFrom from, uint64_t* position) {
  if (fd_ < 0) return false;
  int whence = from == SeekFrom::Begin ? SEEK_SET : from == SeekFrom::Current ? SEEK_CUR : SEEK_END;
  off_t pos = ::lseek(fd_, offset, whence);
  if (pos < 0) return false;
  if (position) *position = static_cast<uint64_t>(pos);
  return true;
}

bool File::Size(uint64_t& size) const {
  struct stat st;
  if (fd_ < 0 || ::fstat(fd_, &st) != 0) return false;
  size = static_cast<uint64_t>(st.st_size);
  return true;
}

bool File::Flush() { return fd_ >= 0 && (::fsync(fd_) == 0 || Failed()); }

bool File::StartWriteback() { return fd_ >= 0 && ::sync_file_range(fd_, 0, 0, SYNC_FILE_RANGE_WRITE) == 0; }

bool File::Truncate() {
  off_t pos;
  if (fd_ < 0 || (pos = ::lseek(fd_, 0, SEEK_CUR)) < 0) return false;
  return ::ftruncate(fd_, pos) == 0;
}

bool File::GetTimes(FileTimes& times) const {
  struct statx sx;
  if (fd_ < 0 || ::statx(fd_, "", AT_EMPTY_PATH, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0) return false;
  times.creation =
      (sx.stx_mask & STATX_BTIME) ? FileTimeFromUnixNanos(sx.stx_btime.tv_sec, sx.stx_btime.tv_nsec) : 0;
  times.last_access = FileTimeFromUnixNanos(sx.stx_atime.tv_sec, sx.stx_atime.tv_nsec);
  times.last_write = FileTimeFromUnixNanos(sx.stx_mtime.tv_sec, sx.stx_mtime.tv_nsec);
  return true;
}

bool File::SetWriteTime(FileTime last_write) { return fd_ >= 0 && detail::SetWriteTimeOf(fd_, last_write); }

namespace detail {

bool SetWriteTimeOf(int fd, FileTime last_write) {
  struct timespec ts[2];
  ts[0].tv_sec = 0;
  ts[0].tv_nsec = UTIME_OMIT;
  if (last_write == 0) {
    ts[1] = ts[0];
  } else {
    int64_t s, ns;
    FileTimeToUnixNanos(last_write, s, ns);
    ts[1].tv_sec = s;
    ts[1].tv_nsec = ns;
  }
  return ::futimens(fd, ts) == 0;
}

}  // namespace detail

bool File::SetAttributes(uint32_t attributes) {
  if (fd_ < 0) return false;
  const mode_t wanted = (attributes & kAttrReadOnly) ? mode_ & ~mode_t{0222} : mode_ | S_IWUSR;
  return SetMode(wanted);
}

// Files are mostly unpacked with the bits they were created with: no call for those.
bool File::SetMode(uint32_t mode) {
  if (mode == mode_) return true;
  if (::fchmod(fd_, static_cast<mode_t>(mode)) != 0) return false;
  mode_ = mode;
  return true;
}

bool File::SetPermissions(uint32_t permissions) {
  if (fd_ < 0) return false;
  uint32_t mask;
  if (!detail::ReadUmask(mask)) {
    // Without /proc the umask is known only through the bits the file was created with
    // (0666 less it): grant execute only where read was granted.
    struct stat st;
    if (::fstat(fd_, &st) != 0) return false;
    const uint32_t created = st.st_mode & 0666;
    mask = ~(created | ((created & 0444) >> 2)) & 0777;
  }
  return SetMode(permissions & 0777 & ~mask);
}

bool File::Close() {
  if (fd_ < 0) return true;
  int fd = fd_;
  fd_ = -1;
  ReleaseOpen(id_, writer_);
  // The descriptor is gone even when close reports an error; never retry.
  return ::close(fd) == 0;
}

}  // namespace tx::platform
