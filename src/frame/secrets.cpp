#include "frame/secrets.h"

#include <cstring>

#include "ui/prompts.h"

namespace tx::frame {

void Password::Clear() {
  platform::WipeMemory(bytes_, sizeof bytes_);
  size_ = 0;
}

void Password::Set(const char* argument) {
  Clear();
  if (argument == nullptr) return;
  while (size_ < kMaxPassword && argument[size_] != 0) ++size_;
  std::memcpy(bytes_, argument, size_);
}

StatusCode Password::Take(const char* argument, bool ask, StatusCode on_cancel) {
  Set(argument);
  if (!empty() || !ask) return kOk;
  return Ask(on_cancel);
}

StatusCode Password::Ask(StatusCode on_cancel) {
  Clear();
  if (ui::PasswordPrompt(bytes_) != 1) {
    Clear();
    return on_cancel;
  }
  size_ = std::strlen(bytes_);
  return kOk;
}

}  // namespace tx::frame
