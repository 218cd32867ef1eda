// The command's own system calls for secrets: reading a password line from a file or a
// descriptor, and wiping what held it. Everything else goes through the library.
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "cli/password_source.h"

namespace tx::cli {

void WipeSecret(void* data, size_t size) { ::explicit_bzero(data, size); }

bool ReadSecretLine(int fd, char* buffer, size_t size, std::string& problem) {
  size_t used = 0;
  for (;;) {
    char c;
    ssize_t n = ::read(fd, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      WipeSecret(buffer, size);
      return problem = std::string("cannot read the password: ") + ::strerror(errno), false;
    }
    if (n == 0 || c == '\r' || c == '\n') break;
    if (used + 1 >= size) {
      WipeSecret(buffer, size);
      WipeSecret(&c, 1);
      return problem = "the password line is longer than " + std::to_string(size - 1) + " bytes", false;
    }
    buffer[used++] = c;
    WipeSecret(&c, 1);
  }
  buffer[used] = 0;
  return true;
}

bool ReadSecretFileLine(const char* path, char* buffer, size_t size, std::string& problem) {
  int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return problem = std::string("cannot open ") + path + ": " + ::strerror(errno), false;
  bool ok = ReadSecretLine(fd, buffer, size, problem);
  ::close(fd);
  if (!ok) problem = std::string(path) + ": " + problem;
  return ok;
}

}  // namespace tx::cli
