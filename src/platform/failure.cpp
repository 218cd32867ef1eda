#include "platform/failure.h"

#include <errno.h>
#include <string.h>

#include "platform/text.h"

namespace tx::platform {

namespace {

struct Failure {
  bool noted = false;
  int error = 0;
  std::string path;
};

thread_local Failure g_failure;

}  // namespace

void NoteFailure(const std::string& path) {
  int error = errno;
  g_failure.noted = true;
  g_failure.error = error;
  g_failure.path = path;
  errno = error;
}

void NoteFailure(const char16_t* path) {
  int error = errno;
  std::string text;
  if (path != nullptr && !Utf16ToUtf8(path, text)) text.clear();
  errno = error;
  NoteFailure(text);
}

void ClearFailure() {
  g_failure.noted = false;
  g_failure.path.clear();
}

std::string FailureText() {
  if (!g_failure.noted) return "";
  char buffer[256];
  const char* reason = g_failure.error == 0 ? "unexpected end of file"
                                            : ::strerror_r(g_failure.error, buffer, sizeof buffer);
  return g_failure.path.empty() ? std::string(reason) : g_failure.path + ": " + reason;
}

}  // namespace tx::platform
