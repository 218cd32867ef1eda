// The controlling terminal, for the dialogs: drawn on the terminal itself (never stdout),
// keys read one at a time without echo. The terminal's modes are restored when the object
// goes away, and also when the process is stopped by a signal meanwhile.
#pragma once

#include <cstddef>
#include <string_view>

namespace tx::platform {

class Terminal {
 public:
  Terminal() = default;
  ~Terminal() { Close(); }
  Terminal(const Terminal&) = delete;
  Terminal& operator=(const Terminal&) = delete;

  // Opens the device (the controlling terminal unless another is named) and switches it
  // to single keys without echo. False when there is no terminal.
  bool Open(const char* device = "/dev/tty");
  void Close();
  bool IsOpen() const { return fd_ >= 0; }

  void Write(std::string_view text);
  // Bytes typed so far, waiting at most `timeout_ms` (0: do not wait, -1: until a key).
  size_t Read(char* buffer, size_t size, int timeout_ms);
  // Width in columns; 80 when the terminal does not say.
  unsigned Columns() const;

 private:
  int fd_ = -1;
};

}  // namespace tx::platform
