// Where a subcommand takes its password from: --password on the command line, the first
// line of a file (--password-file) or of an open descriptor (--password-fd), so that it
// need not show in the process list. What was read is wiped when the object goes.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "cli/arguments.h"

namespace tx::cli {

class PasswordSource {
 public:
  PasswordSource() = default;
  ~PasswordSource();
  PasswordSource(const PasswordSource&) = delete;
  PasswordSource& operator=(const PasswordSource&) = delete;

  // Takes the current option when it is one of the three; `ok` tells whether its value
  // was good. False when the option is none of them.
  bool Take(OptionReader& r, bool& ok);
  // Reads the file or the descriptor named; false with `problem` set. Call once, after
  // all options were taken.
  bool Load(std::string& problem);
  // The password, or null when none was given.
  const char* get() const { return password_; }

 private:
  bool Choose(OptionReader& r, int kind);

  enum { kNone, kArgument, kFile, kDescriptor };
  int kind_ = kNone;
  const char* value_ = nullptr;
  uint32_t descriptor_ = 0;
  const char* password_ = nullptr;
  // A line longer than this is refused rather than cut: the library takes 250 bytes.
  static constexpr size_t kMaxLine = 1024;
  std::array<char, kMaxLine + 1> buffer_{};
};

// The first line of an open descriptor (up to CR, LF or its end), read a byte at a time
// so nothing after the line is consumed. Into `buffer` of `size` bytes, zero-terminated;
// false with `problem` set when reading fails or the line does not fit.
bool ReadSecretLine(int fd, char* buffer, size_t size, std::string& problem);
// The same for the first line of a file.
bool ReadSecretFileLine(const char* path, char* buffer, size_t size, std::string& problem);
// Overwrites memory that held a secret, in a way the compiler keeps.
void WipeSecret(void* data, size_t size);

}  // namespace tx::cli
