#include "platform/temporaries.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

namespace tx::platform {

namespace {

enum : int { kFree = 0, kFilling = 1, kReady = 2 };

// One file is written at a time per call; a few slots cover calls on other threads too.
struct Slot {
  std::atomic<int> state{kFree};
  int dir_fd = -1;
  char name[256] = {};
};
Slot g_slots[16];

}  // namespace

int RegisterTemporary(int dir_fd, const char* name) {
  size_t length = std::strlen(name);
  if (length >= sizeof g_slots[0].name) return -1;
  for (int i = 0; i < static_cast<int>(sizeof g_slots / sizeof g_slots[0]); ++i) {
    int expected = kFree;
    if (!g_slots[i].state.compare_exchange_strong(expected, kFilling)) continue;
    g_slots[i].dir_fd = dir_fd;
    std::memcpy(g_slots[i].name, name, length + 1);
    g_slots[i].state.store(kReady);
    return i;
  }
  return -1;
}

void UnregisterTemporary(int slot) {
  if (slot >= 0) g_slots[slot].state.store(kFree);
}

void RemoveTemporaries() {
  for (Slot& slot : g_slots)
    if (slot.state.load() == kReady) ::unlinkat(slot.dir_fd, slot.name, 0);
}

}  // namespace tx::platform
