// A typed secret: fixed storage that is never copied into growing strings and is wiped
// when the text is taken and when the object goes away.
#pragma once

#include <cstddef>
#include <string_view>

namespace tx::ui {

class SecretText {
 public:
  static constexpr size_t kCapacity = 2208;  // the dialogs' shared text buffer, in bytes

  SecretText() = default;
  ~SecretText() { Wipe(); }
  SecretText(const SecretText&) = delete;
  SecretText& operator=(const SecretText&) = delete;

  // Appends what fits; returns false when something did not.
  bool Append(std::string_view bytes);
  // Removes the last UTF-8 character.
  void RemoveLast();
  void Wipe();

  const char* data() const { return bytes_; }
  size_t size() const { return size_; }
  // Characters, not bytes: what a masked field shows as stars.
  size_t characters() const;

 private:
  char bytes_[kCapacity] = {};
  size_t size_ = 0;
};

}  // namespace tx::ui
