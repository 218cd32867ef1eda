// A pseudo-terminal for driving the terminal dialogs as a person would.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

namespace tx::test {

class Pty {
 public:
  explicit Pty(unsigned short columns = 80) {
    struct winsize ws = {};
    ws.ws_col = columns;
    ws.ws_row = 24;
    char name[256];
    if (::openpty(&master_, &slave_, name, nullptr, &ws) == 0) name_ = name;
  }
  ~Pty() {
    if (typist_.joinable()) typist_.join();
    ::close(master_);
    ::close(slave_);
  }
  const std::string& name() const { return name_; }
  int slave() const { return slave_; }

  bool Raw() const {
    struct termios t;
    return ::tcgetattr(slave_, &t) == 0 && !(t.c_lflag & (ECHO | ICANON));
  }
  // Types the keys once a dialog has taken the terminal (keys typed earlier would be echoed).
  void TypeWhenRaw(std::string keys, int delay_ms = 0) {
    if (typist_.joinable()) typist_.join();
    typist_ = std::thread([this, keys, delay_ms] {
      for (int i = 0; i < 2000 && !Raw(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
      for (char c : keys) {
        if (::write(master_, &c, 1) != 1) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      }
    });
  }
  void Type(const std::string& keys) {
    if (::write(master_, keys.data(), keys.size()) < 0) return;
  }
  void Join() {
    if (typist_.joinable()) typist_.join();
  }
  // Everything drawn since the last call.
  std::string Drawn() {
    std::string out;
    char buffer[4096];
    struct pollfd p = {master_, POLLIN, 0};
    while (::poll(&p, 1, 50) > 0) {
      ssize_t n = ::read(master_, buffer, sizeof buffer);
      if (n <= 0) break;
      out.append(buffer, static_cast<size_t>(n));
    }
    return out;
  }

 private:
  int master_ = -1, slave_ = -1;
  std::string name_;
  std::thread typist_;
};

}  // namespace tx::test
