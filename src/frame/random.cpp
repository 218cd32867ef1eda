#include "frame/random.h"

#include <openssl/crypto.h>

#include <cstring>

#include "frame/bytes.h"
#include "crypto/rc4.h"
#include "crypto/snow2.h"

namespace tx::frame {
namespace {

constinit crypto::Snow2 g_generator;
constinit bool g_seeded = false;
// The process that keyed the generator: a forked child shares the state but must not
// share the keystream.
constinit uint32_t g_seeded_process = 0;

// A 64-bit sum keeps its low 48 bits: the low word, then the low half of the high word.
void Put48(uint8_t* out, uint64_t value) {
  for (int i = 0; i < 6; ++i) out[i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace

void BuildPool(const platform::EntropySample& sample, uint8_t (&pool)[kPoolSize]) {
  std::memset(pool, 0, kPoolSize);
  StoreU64(pool + 0, sample.file_time);
  StoreU64(pool + 8, sample.monotonic_ns);
  StoreU32(pool + 16, sample.boot_ms);
  StoreU32(pool + 20, sample.process_id + static_cast<uint32_t>(sample.module_address));
  if (sample.memory_known) {
    Put48(pool + 24, sample.ram_total + sample.ram_free);
    Put48(pool + 30, sample.swap_total + sample.swap_free);
  }
  if (sample.commit_known) Put48(pool + 36, sample.commit_limit + sample.commit_free);
  if (sample.disk_known) Put48(pool + 42, sample.disk_total + sample.disk_free);
}

void StirPool(uint8_t (&pool)[kPoolSize]) {
  crypto::Rc4 rc4(pool, kPoolSize);
  rc4.Discard(256);
  rc4.XorKeystream(pool, kPoolSize);
}

void KeyGenerator(const uint8_t (&pool)[kPoolSize]) {
  uint8_t key[32];
  std::memcpy(key, pool, sizeof key);
  uint32_t iv[4];
  for (int i = 0; i < 4; ++i) iv[i] = LoadU32(pool + 32 + 4 * i);
  g_generator.LoadKey(key, iv);
  OPENSSL_cleanse(key, sizeof key);
  OPENSSL_cleanse(iv, sizeof iv);
  g_seeded = true;
  g_seeded_process = platform::ProcessId();
}

StatusCode GatherEntropy() {
  if (GeneratorSeeded()) return kOk;
  platform::EntropySample sample;
  platform::MeasureEntropy(sample);
  uint8_t pool[kPoolSize];
  BuildPool(sample, pool);
  // The kernel's bytes make the pool unpredictable whatever the measurements reveal;
  // without them the generator is not keyed at all.
  uint8_t system[kPoolSize] = {};
  if (!platform::SystemRandom(system, sizeof system)) {
    OPENSSL_cleanse(system, sizeof system);
    OPENSSL_cleanse(pool, sizeof pool);
    OPENSSL_cleanse(&sample, sizeof sample);
    return kRandomSourceFailed;
  }
  for (size_t i = 0; i < kPoolSize; ++i) pool[i] ^= system[i];
  StirPool(pool);
  KeyGenerator(pool);
  OPENSSL_cleanse(system, sizeof system);
  OPENSSL_cleanse(pool, sizeof pool);
  OPENSSL_cleanse(&sample, sizeof sample);
  return kOk;
}

StatusCode RandomBytes(void* buffer, size_t size) {
  if (size == 0) return kOk;
  // An unkeyed generator would give the same bytes in every process.
  if (StatusCode code = GatherEntropy()) return code;
  auto* out = static_cast<uint8_t*>(buffer);
  for (; size >= 4; size -= 4, out += 4) StoreU32(out, g_generator.NextWord());
  if (size > 0) {
    uint32_t word = g_generator.NextWord();
    for (size_t i = 0; i < size; ++i) out[i] = static_cast<uint8_t>(word >> (8 * i));
    OPENSSL_cleanse(&word, sizeof word);
  }
  return kOk;
}

void WipeGenerator() {
  g_generator.Wipe();
  ClearSeededFlag();
}

bool GeneratorSeeded() { return g_seeded && g_seeded_process == platform::ProcessId(); }

void ClearSeededFlag() {
  g_seeded = false;
  g_seeded_process = 0;
}

}  // namespace tx::frame
