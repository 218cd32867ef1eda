// The process-wide random generator behind salts, initialisation vectors and keys: a
// SNOW 2.0 keystream keyed once per process from an entropy pool.
#pragma once

#include <cstddef>
#include <cstdint>

#include "frame/status.h"
#include "platform/entropy.h"

namespace tx::frame {

inline constexpr size_t kPoolSize = 48;

// The generator's place in status codes. The kernel's random source failing is reported
// as a failed call of the cryptographic provider: 0x01303E01.
inline constexpr uint8_t kPlaceRandom = 0x3E;
inline constexpr StatusCode kRandomSourceFailed =
    SystemCode(platform::SysCall::CryptoProvider, kPlaceRandom, 0x01);

// Keys the generator from a fresh pool unless it is already keyed in this process (a
// forked child gathers again rather than repeat its parent's keystream). When the kernel's
// random source fails the generator stays unkeyed and kRandomSourceFailed comes back: the
// measurements alone are too predictable for keys and salts.
[[nodiscard]] StatusCode GatherEntropy();

// Fills the buffer with the next keystream bytes: one word per 4 bytes, stored
// little-endian, and one more word for a remainder of 1 to 3 bytes, of which the rest is
// dropped. Gathers first if the generator is not keyed for this process, and returns what
// gathering returned if that failed (the buffer is then left as it was).
[[nodiscard]] StatusCode RandomBytes(void* buffer, size_t size);

// Zeroes the generator and clears the seeded flag.
void WipeGenerator();

bool GeneratorSeeded();
void ClearSeededFlag();

// The steps of gathering, exposed for tests.
// Lays the measurements out in the pool; groups whose query failed stay zero.
void BuildPool(const platform::EntropySample& sample, uint8_t (&pool)[kPoolSize]);
// Keys RC4 with the pool, drops 256 bytes and XORs the next 48 into the pool.
void StirPool(uint8_t (&pool)[kPoolSize]);
// Keys the generator: bytes 0-31 are the key, bytes 32-47 IV0 to IV3 (little-endian
// words); sets the seeded flag for this process.
void KeyGenerator(const uint8_t (&pool)[kPoolSize]);

}  // namespace tx::frame
