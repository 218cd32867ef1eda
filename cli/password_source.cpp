#include "cli/password_source.h"

namespace tx::cli {

PasswordSource::~PasswordSource() { WipeSecret(buffer_.data(), buffer_.size()); }

bool PasswordSource::Choose(OptionReader& r, int kind) {
  bool ok = kind == kDescriptor ? r.Number(descriptor_) : r.Value(value_);
  if (!ok) return false;
  if (kind_ != kNone && kind_ != kind)
    return r.Fail("give only one of --password, --password-file, --password-fd");
  kind_ = kind;
  return true;
}

bool PasswordSource::Take(OptionReader& r, bool& ok) {
  std::string_view arg = r.arg();
  if (arg == "--password")
    ok = Choose(r, kArgument);
  else if (arg == "--password-file")
    ok = Choose(r, kFile);
  else if (arg == "--password-fd")
    ok = Choose(r, kDescriptor);
  else
    return false;
  return true;
}

bool PasswordSource::Load(std::string& problem) {
  switch (kind_) {
    case kArgument: password_ = value_; return true;
    case kFile:
      if (!ReadSecretFileLine(value_, buffer_.data(), buffer_.size(), problem)) return false;
      break;
    case kDescriptor:
      if (descriptor_ > 0x7FFFFFFF) return problem = "--password-fd needs a descriptor number", false;
      if (!ReadSecretLine(static_cast<int>(descriptor_), buffer_.data(), buffer_.size(), problem))
        return false;
      break;
    default: return true;
  }
  password_ = buffer_.data();
  return true;
}

}  // namespace tx::cli
