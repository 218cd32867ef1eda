// Helpers shared by the test binaries: temporary folders, files, commands.
#pragma once

#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace tx::test {

class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tessarex-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot make a temporary folder");
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::filesystem::path& path() const { return path_; }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

inline void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary).write(content.data(), static_cast<std::streamsize>(content.size()));
}

inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// A path quoted for the shell (paths of the tests hold no quote).
inline std::string Quote(const std::string& s) { return "'" + s + "'"; }

inline std::string RandomBytes(size_t size, unsigned seed) {
  std::mt19937 gen(seed);
  std::string s(size, '\0');
  for (auto& c : s) c = static_cast<char>(gen());
  return s;
}

// Runs a shell command; returns its standard output, and its exit status in `status`.
inline std::string Shell(const std::string& command, int* status = nullptr) {
  std::string out;
  FILE* p = ::popen(command.c_str(), "r");
  if (!p) return out;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
  int rc = ::pclose(p);
  if (status) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  return out;
}

// Runs a peer; returns its exit status, its output (with its errors) in `out`.
inline int Peer(const std::string& command, std::string* out = nullptr) {
  int status = -1;
  std::string text = Shell(command + " 2>&1", &status);
  if (out) *out = text;
  return status;
}

// A little-endian field of `bytes` bytes at `at` of a byte string.
inline uint64_t Le(const std::string& s, size_t at, int bytes = 8) {
  uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = v << 8 | static_cast<uint8_t>(s.at(at + i));
  return v;
}

// Runs `body` in a forked child and returns the code it returned (0xDEADDEAD if it died).
template <typename Body>
uint32_t InChild(Body body) {
  int fds[2];
  if (::pipe(fds) != 0) return 0xDEADDEAD;
  pid_t pid = ::fork();
  uint32_t code = pid == 0 ? body() : 0xDEADDEAD;
  if (pid == 0) ::_exit(::write(fds[1], &code, sizeof code) == sizeof code ? 0 : 1);
  ::close(fds[1]);
  if (::read(fds[0], &code, sizeof code) != sizeof code) code = 0xDEADDEAD;
  ::close(fds[0]);
  ::waitpid(pid, nullptr, 0);
  return code;
}

inline std::string Hex(const void* data, size_t size) {
  static const char* digits = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < size; ++i) {
    auto b = static_cast<const unsigned char*>(data)[i];
    s += digits[b >> 4];
    s += digits[b & 15];
  }
  return s;
}

}  // namespace tx::test
