#include "platform/cores.h"

#include <sched.h>

#include <cstdlib>

namespace tx::platform {

unsigned WorkerThreads(unsigned limit) {
  unsigned count = 0;
  if (const char* text = std::getenv("TESSAREX_THREADS"); text != nullptr && *text != 0) {
    char* end = nullptr;
    const unsigned long value = std::strtoul(text, &end, 10);
    if (*end == 0 && value >= 1 && value <= 64) count = static_cast<unsigned>(value);
  }
  if (count == 0) {
    // The processors this process may run on, which a container or taskset may narrow.
    cpu_set_t set;
    CPU_ZERO(&set);
    const int online = ::sched_getaffinity(0, sizeof set, &set) == 0 ? CPU_COUNT(&set) : 1;
    count = online > 0 ? static_cast<unsigned>(online) : 1;
  }
  return count < limit ? count : (limit > 0 ? limit : 1);
}

}  // namespace tx::platform
