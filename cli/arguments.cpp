#include "cli/arguments.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "cli/commands.h"

namespace tx::cli {

bool ParseNumber(const char* text, uint32_t& out) {
  char* end = nullptr;
  unsigned long long value = std::strtoull(text, &end, 10);
  if (end == text || *end != 0 || value > 0xFFFFFFFFull || text[0] == '-') return false;
  out = static_cast<uint32_t>(value);
  return true;
}

bool OptionReader::Value(const char*& out) {
  if (index_ + 1 >= argc_) return Fail(std::string(arg()) + " needs a value");
  out = argv_[++index_];
  return true;
}

bool OptionReader::Number(uint32_t& out) {
  const char* v;
  if (!Value(v)) return false;
  return ParseNumber(v, out) || Fail(std::string(argv_[index_ - 1]) + " needs a number");
}

int UsageError(const char* usage, const char* problem) {
  if (problem) std::fprintf(stderr, "tessarex: %s\n", problem);
  std::fputs(usage, stderr);
  return 2;
}

int Outcome(const char* what, uint32_t code) {
  if (code == 0) return 0;
  ReportFailure(what, code);
  return 1;
}

int PrintListing(const char* what, const std::function<uint32_t(char*, uint32_t)>& list) {
  constexpr uint32_t kTooSmall = 0x00280000;
  for (uint32_t size = 1 << 16;; size *= 4) {
    std::vector<char> text(size);
    uint32_t code = list(text.data(), size);
    if (code == kTooSmall && size < (1u << 30)) continue;
    if (code != 0) return Outcome(what, code);
    std::fputs(text.data(), stdout);
    return 0;
  }
}

}  // namespace tx::cli
