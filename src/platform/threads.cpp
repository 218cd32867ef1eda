#include "platform/threads.h"

#include <sched.h>

#include <cstdlib>

namespace tx::platform {

unsigned WorkThreads() {
  if (const char* text = std::getenv("TESSAREX_THREADS"); text != nullptr && *text != 0) {
    char* end = nullptr;
    const unsigned long value = std::strtoul(text, &end, 10);
    if (*end == 0 && value >= 1 && value <= 64) return static_cast<unsigned>(value);
  }
  cpu_set_t set;
  CPU_ZERO(&set);
  if (::sched_getaffinity(0, sizeof set, &set) != 0) return 1;
  const int count = CPU_COUNT(&set);
  return count > 0 ? static_cast<unsigned>(count) : 1;
}

}  // namespace tx::platform
