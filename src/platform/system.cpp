#include "platform/system.h"

#include <dlfcn.h>
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

namespace tx::platform {

void SleepMilliseconds(unsigned milliseconds) {
  struct timespec left = {static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
  while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

void WipeMemory(void* data, size_t size) {
  if (size > 0) ::explicit_bzero(data, size);
}

std::string MessageLocale() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = ::getenv(name);
    if (value != nullptr && *value != 0) return value;
  }
  return {};
}

const void* ModuleAddress() {
  Dl_info info;
  if (::dladdr(reinterpret_cast<const void*>(&ModuleAddress), &info) != 0 && info.dli_fbase != nullptr)
    return info.dli_fbase;
  return reinterpret_cast<const void*>(&ModuleAddress);
}

}  // namespace tx::platform
