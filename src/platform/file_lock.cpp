#include "platform/file_lock.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/failure.h"
#include "platform/text.h"

namespace tx::platform {

bool FileLock::Acquire(const char16_t* path) {
  Release();
  std::string name;
  if (path == nullptr || !Utf16ToUtf8(path, name) || name.empty()) return false;
  for (;;) {
    int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      NoteFailure(name);
      return false;
    }
    int locked;
    do locked = ::flock(fd, LOCK_EX);
    while (locked != 0 && errno == EINTR);
    struct stat held, named;
    if (locked != 0 || ::fstat(fd, &held) != 0) {
      NoteFailure(name);
      ::close(fd);
      return false;
    }
    if (::stat(name.c_str(), &named) == 0 && named.st_dev == held.st_dev && named.st_ino == held.st_ino) {
      fd_ = fd;
      return true;
    }
    ::close(fd);  // the file was replaced while we waited: lock the new one
  }
}

void FileLock::Release() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

}  // namespace tx::platform
