#include "ui/secret_text.h"

#include <cstring>

#include "platform/system.h"

namespace tx::ui {

namespace {
bool IsContinuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }
}  // namespace

bool SecretText::Append(std::string_view bytes) {
  size_t n = bytes.size() < kCapacity - 1 - size_ ? bytes.size() : kCapacity - 1 - size_;
  std::memcpy(bytes_ + size_, bytes.data(), n);
  size_ += n;
  bytes_[size_] = 0;
  return n == bytes.size();
}

void SecretText::RemoveLast() {
  while (size_ > 0) {
    char c = bytes_[--size_];
    bytes_[size_] = 0;
    if (!IsContinuation(c)) break;
  }
}

void SecretText::Wipe() {
  platform::WipeMemory(bytes_, sizeof bytes_);
  size_ = 0;
}

size_t SecretText::characters() const {
  size_t n = 0;
  for (size_t i = 0; i < size_; ++i) n += !IsContinuation(bytes_[i]);
  return n;
}

}  // namespace tx::ui
