#include "platform/temporaries.h"

#include <fcntl.h>
#include <sys/random.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
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

constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
constexpr uint64_t kBase = sizeof kAlphabet - 1;
constexpr uint64_t kNames = kBase * kBase * kBase * kBase * kBase * kBase;  // kBase ^ kUniqueChars

uint64_t DrawStart() {
  uint64_t random = 0;
  if (::getrandom(&random, sizeof random, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof random)) {
    // Only uniqueness matters; without the entropy pool the clock still separates processes.
    struct timespec now = {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    random = static_cast<uint64_t>(now.tv_nsec) * 0x9E3779B97F4A7C15ull + static_cast<uint64_t>(now.tv_sec);
  }
  return random ^ (static_cast<uint64_t>(::getpid()) * 0xBF58476D1CE4E5B9ull);
}

std::atomic<uint64_t> g_next_name{0};

}  // namespace

void UniqueChars(char (&out)[kUniqueChars]) {
  static const uint64_t start = DrawStart();
  uint64_t value = (start + g_next_name.fetch_add(1, std::memory_order_relaxed)) % kNames;
  for (char& c : out) {
    c = kAlphabet[value % kBase];
    value /= kBase;
  }
}

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
