// What the archive subcommands share: named option values, numbers, results, listings.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace tx::cli {

struct Named {
  const char* name;
  uint32_t value;
};

// Walks the options after a subcommand, taking their values.
class OptionReader {
 public:
  OptionReader(int argc, char** argv) : argc_(argc), argv_(argv) {}
  // Moves to the next argument; false at the end.
  bool Next() { return ++index_ < argc_; }
  std::string_view arg() const { return argv_[index_]; }
  const char* current() const { return argv_[index_]; }
  bool IsOption() const { return arg().size() > 1 && arg()[0] == '-'; }

  // Take the option's value; false (with the problem noted) when it is missing or wrong.
  bool Value(const char*& out);
  bool Number(uint32_t& out);
  bool Unknown() { return Fail("unknown option " + std::string(arg())); }
  const std::string& problem() const { return problem_; }
  // Notes a problem with the current option; always false.
  bool Fail(std::string problem) {
    problem_ = std::move(problem);
    return false;
  }

 private:
  int argc_;
  char** argv_;
  int index_ = -1;
  std::string problem_;
};

// A decimal number of at most 32 bits.
bool ParseNumber(const char* text, uint32_t& out);

// Prints `problem` (when given) and the usage text on stderr; returns the usage exit status.
int UsageError(const char* usage, const char* problem);

// The exit status of a call: 0, or 1 after its decoded status went to stderr.
int Outcome(const char* what, uint32_t code);

// Runs a listing export with a buffer grown until the text fits, and prints the text.
int PrintListing(const char* what, const std::function<uint32_t(char* buffer, uint32_t size)>& list);

}  // namespace tx::cli
