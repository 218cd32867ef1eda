#include "platform/tty.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace tx::platform {

namespace {

// One terminal is in raw mode at a time (one call at a time per process); the signal
// handler needs its saved modes in static storage.
int g_raw_fd = -1;
struct termios g_saved_modes;
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGQUIT, SIGHUP};
struct sigaction g_saved_actions[sizeof kSignals / sizeof kSignals[0]];

void RestoreOnSignal(int sig) {
  if (g_raw_fd >= 0) ::tcsetattr(g_raw_fd, TCSANOW, &g_saved_modes);
  for (size_t i = 0; i < sizeof kSignals / sizeof kSignals[0]; ++i)
    if (kSignals[i] == sig) ::sigaction(sig, &g_saved_actions[i], nullptr);
  g_raw_fd = -1;
  ::raise(sig);
}

}  // namespace

bool Terminal::Open(const char* device) {
  Close();
  int fd = ::open(device, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  struct termios modes;
  if (!::isatty(fd) || ::tcgetattr(fd, &modes) != 0 || g_raw_fd >= 0) {
    ::close(fd);
    return false;
  }
  g_saved_modes = modes;
  modes.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
  modes.c_cc[VMIN] = 1;
  modes.c_cc[VTIME] = 0;
  g_raw_fd = fd;
  struct sigaction action = {};
  action.sa_handler = RestoreOnSignal;
  ::sigemptyset(&action.sa_mask);
  for (size_t i = 0; i < sizeof kSignals / sizeof kSignals[0]; ++i)
    ::sigaction(kSignals[i], &action, &g_saved_actions[i]);
  if (::tcsetattr(fd, TCSANOW, &modes) != 0) {
    fd_ = fd;
    Close();
    return false;
  }
  fd_ = fd;
  return true;
}

void Terminal::Close() {
  if (fd_ < 0) return;
  if (g_raw_fd == fd_) {
    ::tcsetattr(fd_, TCSANOW, &g_saved_modes);
    g_raw_fd = -1;
    for (size_t i = 0; i < sizeof kSignals / sizeof kSignals[0]; ++i)
      ::sigaction(kSignals[i], &g_saved_actions[i], nullptr);
  }
  ::close(fd_);
  fd_ = -1;
}

void Terminal::Write(std::string_view text) {
  while (fd_ >= 0 && !text.empty()) {
    ssize_t n = ::write(fd_, text.data(), text.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return;  // a terminal that stopped listening: nothing to draw on
    }
    text.remove_prefix(static_cast<size_t>(n));
  }
}

size_t Terminal::Read(char* buffer, size_t size, int timeout_ms) {
  if (fd_ < 0 || size == 0) return 0;
  struct pollfd p = {fd_, POLLIN, 0};
  int ready;
  do {
    ready = ::poll(&p, 1, timeout_ms);
  } while (ready < 0 && errno == EINTR);
  if (ready <= 0 || !(p.revents & POLLIN)) return 0;
  ssize_t n;
  do {
    n = ::read(fd_, buffer, size);
  } while (n < 0 && errno == EINTR);
  return n > 0 ? static_cast<size_t>(n) : 0;
}

unsigned Terminal::Columns() const {
  struct winsize ws;
  if (fd_ >= 0 && ::ioctl(fd_, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
  return 80;
}

}  // namespace tx::platform
