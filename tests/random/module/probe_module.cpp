// A loadable copy of the whole library with a way in to its random generator, so that
// tests can load and unload it and watch the generator start afresh.
#include "frame/random.h"

extern "C" __attribute__((visibility("default"))) void tessarex_probe_random(unsigned char* out,
                                                                             unsigned long size) {
  if (tx::frame::RandomBytes(out, size) != 0) __builtin_memset(out, 0, size);
}

extern "C" __attribute__((visibility("default"))) int tessarex_probe_seeded() {
  return tx::frame::GeneratorSeeded() ? 1 : 0;
}
