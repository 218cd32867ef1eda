// The RC4 stream cipher: key schedule and keystream bytes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tx::crypto {

class Rc4 {
 public:
  // Runs the key schedule; the key (1 to 256 bytes) repeats as often as the schedule needs.
  Rc4(const void* key, size_t key_size);
  ~Rc4();
  Rc4(const Rc4&) = delete;
  Rc4& operator=(const Rc4&) = delete;

  // Draws and drops `count` keystream bytes.
  void Discard(size_t count);
  // XORs the next keystream bytes into `data`.
  void XorKeystream(void* data, size_t size);

 private:
  uint8_t NextByte();

  uint8_t s_[256];
  uint8_t i_ = 0;
  uint8_t j_ = 0;
};

}  // namespace tx::crypto
