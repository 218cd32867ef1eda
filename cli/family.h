// The archive families' subcommands, read from tables: each family names its options
// (with the option word each one sets) and its subcommands, and one reader serves all.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cli/arguments.h"
#include "cli/commands.h"
#include "cli/password_source.h"

namespace tx::cli {

enum class Kind {
  Flag,    // no value: `bits` are OR'ed into the key's value
  Text,    // a string value
  Number,  // a decimal number
  Choice,  // one of `choices`
};

struct OptionSpec {
  const char* name;  // "--method"
  Kind kind;
  const char* key = nullptr;  // the value it sets; null: the name without "--"
  std::span<const Named> choices = {};
  uint32_t bits = 1;
};

// What the options of one command line gave.
class Parsed {
 public:
  std::vector<const char*> positional;
  PasswordSource password;

  uint32_t Value(std::string_view key, uint32_t fallback = 0) const;
  bool Given(std::string_view key) const;
  const char* Text(std::string_view key) const;  // null when not given

 private:
  friend bool ParseOptions(int argc, char** argv, std::span<const OptionSpec> table, Parsed& out,
                           std::string& problem);
  std::map<std::string, uint32_t, std::less<>> values_;
  std::map<std::string, const char*, std::less<>> texts_;
};

// Reads every option (and the password options) of `table`; false with `problem` set on
// an unknown option or a bad value.
bool ParseOptions(int argc, char** argv, std::span<const OptionSpec> table, Parsed& out,
                  std::string& problem);

struct Subcommand {
  const char* name;
  size_t arguments;  // the positional arguments it needs
  const char* need;  // what the usage error says when they are missing
  int (*run)(const CommonOptions& common, std::string_view name, Parsed& args);
};

struct Family {
  const char* name;  // "pea"
  const char* usage;
  std::span<const OptionSpec> options;
  std::span<const Subcommand> commands;
};

// Finds the subcommand in argv[0], reads its options and runs it.
int RunFamily(const Family& family, const CommonOptions& common, int argc, char** argv);

// A packing source as the library takes it: a folder named alone with its trailing "/"
// (as tab completion writes it) is named from the current folder.
std::string PackSource(const char* source);
// An output folder named for extraction is made when missing, as other archivers do;
// false, with the reason on stderr, when it cannot be.
bool MakeOutputFolder(const char* folder);

}  // namespace tx::cli
