#include "platform/cores.h"

#include <stdlib.h>
#include <unistd.h>

namespace tx::platform {

unsigned WorkerThreads(unsigned limit) {
  long count = 0;
  const char* text = ::getenv("TESSAREX_THREADS");
  if (text != nullptr && *text != 0) {
    char* end = nullptr;
    count = ::strtol(text, &end, 10);
    if (*end != 0) count = 0;
  }
  if (count <= 0) count = ::sysconf(_SC_NPROCESSORS_ONLN);
  if (count <= 0) count = 1;
  return static_cast<unsigned>(count) < limit ? static_cast<unsigned>(count) : limit;
}

}  // namespace tx::platform
