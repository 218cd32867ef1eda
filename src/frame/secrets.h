// Secrets of one call: the password, and records that carry names, digests and key
// parameters. Both are wiped when they go, on every path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "frame/status.h"
#include "platform/system.h"

namespace tx::frame {

inline constexpr size_t kMaxPassword = 250;  // bytes of the caller's string that count

class Password {
 public:
  Password() = default;
  ~Password() { Clear(); }
  Password(const Password&) = delete;
  Password& operator=(const Password&) = delete;

  // The argument, cut to 250 bytes (null: empty).
  void Set(const char* argument);
  // The argument when not empty; else, with `ask`, the password prompt (its Cancel, or a
  // prompt that cannot be shown, gives `on_cancel`); else the empty password.
  StatusCode Take(const char* argument, bool ask, StatusCode on_cancel);
  // The password prompt now, replacing what is held (`on_cancel` as above).
  StatusCode Ask(StatusCode on_cancel);
  void Clear();

  const char* c_str() const { return bytes_; }
  const uint8_t* data() const { return reinterpret_cast<const uint8_t*>(bytes_); }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }

 private:
  char bytes_[kMaxPassword + 1] = {};
  size_t size_ = 0;
};

// Key material on the stack, wiped on every path.
template <size_t N>
struct SecretBytes {
  uint8_t bytes[N] = {};
  ~SecretBytes() { platform::WipeMemory(bytes, N); }
};

// A record on the heap, zeroed when it goes.
template <typename T>
class Wiped {
 public:
  Wiped() : value_(std::make_unique<T>()) {}
  ~Wiped() { platform::WipeMemory(value_.get(), sizeof(T)); }
  Wiped(const Wiped&) = delete;
  Wiped& operator=(const Wiped&) = delete;
  T& operator*() { return *value_; }
  T* operator->() { return value_.get(); }

 private:
  std::unique_ptr<T> value_;
};

}  // namespace tx::frame
