#include "cli/family.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

namespace tx::cli {

uint32_t Parsed::Value(std::string_view key, uint32_t fallback) const {
  auto it = values_.find(key);
  return it == values_.end() ? fallback : it->second;
}

bool Parsed::Given(std::string_view key) const { return values_.count(key) != 0 || texts_.count(key) != 0; }

const char* Parsed::Text(std::string_view key) const {
  auto it = texts_.find(key);
  return it == texts_.end() ? nullptr : it->second;
}

bool ParseOptions(int argc, char** argv, std::span<const OptionSpec> table, Parsed& out,
                  std::string& problem) {
  OptionReader r(argc, argv);
  while (r.Next()) {
    bool ok = true;
    if (out.password.Take(r, ok)) {  // --password, --password-file, --password-fd
      if (!ok) return problem = r.problem(), false;
      continue;
    }
    const OptionSpec* spec = nullptr;
    for (const OptionSpec& s : table)
      if (r.arg() == s.name) spec = &s;
    if (spec == nullptr) {
      if (r.IsOption()) return r.Unknown(), problem = r.problem(), false;
      out.positional.push_back(r.current());
      continue;
    }
    std::string key = spec->key != nullptr ? spec->key : std::string(spec->name + 2);
    uint32_t value = 0;
    switch (spec->kind) {
      case Kind::Flag: out.values_[key] |= spec->bits; continue;
      case Kind::Text: {
        const char* text;
        if (!r.Value(text)) return problem = r.problem(), false;
        out.texts_[key] = text;
        continue;
      }
      case Kind::Number: ok = r.Number(value); break;
      case Kind::Choice: {
        const char* text;
        ok = r.Value(text);
        if (ok) {
          bool found = false;
          for (const Named& n : spec->choices)
            if (std::string_view(text) == n.name) value = n.value, found = true;
          if (!found) ok = r.Fail("unknown value " + std::string(text) + " for " + spec->name);
        }
        break;
      }
    }
    if (!ok) return problem = r.problem(), false;
    out.values_[key] = value;
  }
  return out.password.Load(problem);
}

int RunFamily(const Family& family, const CommonOptions& common, int argc, char** argv) {
  if (argc < 1) return UsageError(family.usage, nullptr);
  std::string_view name = argv[0];
  for (const Subcommand& command : family.commands) {
    if (name != command.name) continue;
    Parsed args;
    std::string problem;
    if (!ParseOptions(argc - 1, argv + 1, family.options, args, problem))
      return UsageError(family.usage, problem.c_str());
    if (args.positional.size() != command.arguments) return UsageError(family.usage, command.need);
    return command.run(common, name, args);
  }
  std::string problem = "unknown " + std::string(family.name) + " command " + std::string(name);
  return UsageError(family.usage, problem.c_str());
}

std::string PackSource(const char* source) {
  std::string_view text = source;
  bool folder_alone = text.size() > 1 && text.back() == '/' && text.find('/') == text.size() - 1;
  return folder_alone ? "./" + std::string(text) : std::string(text);
}

bool MakeOutputFolder(const char* folder) {
  if (folder == nullptr || *folder == 0) return true;
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (!error) return true;
  std::fprintf(stderr, "tessarex: %s: %s\n", folder, error.message().c_str());
  return false;
}

}  // namespace tx::cli
