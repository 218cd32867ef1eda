// Measurements of the running system that seed the random generator, and the kernel's
// own random source.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tx::platform {

// Each group is valid only when its flag is set; a failed query leaves it zero.
struct EntropySample {
  uint64_t file_time = 0;     // wall clock, 100 ns units since 1601 UTC
  uint64_t monotonic_ns = 0;  // CLOCK_MONOTONIC in nanoseconds
  uint32_t boot_ms = 0;       // milliseconds since boot, wrapping like a 32-bit tick count
  uint32_t process_id = 0;
  uint64_t module_address = 0;  // load address of this library

  bool memory_known = false;  // sysinfo, in bytes
  uint64_t ram_total = 0;
  uint64_t ram_free = 0;
  uint64_t swap_total = 0;
  uint64_t swap_free = 0;

  bool commit_known = false;  // /proc/meminfo, in bytes
  uint64_t commit_limit = 0;
  uint64_t commit_free = 0;  // CommitLimit - Committed_AS, 0 when overcommitted

  bool disk_known = false;  // statvfs of the current directory, in bytes
  uint64_t disk_total = 0;
  uint64_t disk_free = 0;
};

void MeasureEntropy(EntropySample& sample);

// Fills the buffer from getrandom(2); false if the kernel refused (the bytes not filled
// are left as they were).
bool SystemRandom(void* buffer, size_t size);

uint32_t ProcessId();

}  // namespace tx::platform
