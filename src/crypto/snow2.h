// The SNOW 2.0 stream cipher: key loading for 128- and 256-bit keys with a 128-bit
// initialisation value, and the keystream one 32-bit word at a time.
#pragma once

#include <cstdint>

namespace tx::crypto {

class Snow2 {
 public:
  constexpr Snow2() = default;
  ~Snow2();
  Snow2(const Snow2&) = delete;
  Snow2& operator=(const Snow2&) = delete;

  // Key bytes are read as big-endian words; iv is {IV0, IV1, IV2, IV3}. Loading includes
  // the 32 initial clockings, so the next word is the first keystream word.
  void LoadKey(const uint8_t (&key)[16], const uint32_t (&iv)[4]);
  void LoadKey(const uint8_t (&key)[32], const uint32_t (&iv)[4]);

  uint32_t NextWord();

  // Zeroes the whole state; the cipher must be keyed again before use.
  void Wipe();

 private:
  void Load(const uint8_t* key, unsigned key_words, const uint32_t (&iv)[4]);
  // One step of register and state machine; while initialising, the machine's output
  // feeds back into the register.
  void Clock(bool initialising);

  // The 16-word register as a double buffer: word j of the current register is at
  // s_[pos_ + j], and s_[i] == s_[i + 16], so the window never wraps.
  uint32_t s_[32] = {};
  uint32_t pos_ = 0;
  uint32_t r1_ = 0;
  uint32_t r2_ = 0;
};

}  // namespace tx::crypto
