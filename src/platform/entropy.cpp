#include "platform/entropy.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/statvfs.h>
#include <sys/sysinfo.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "platform/system.h"

namespace tx::platform {
namespace {

// Seconds from 1601-01-01 to 1970-01-01.
constexpr uint64_t kEpochDifference = 11644473600ull;

// Finds "name:" at the start of a line of /proc/meminfo text and returns its value in bytes.
bool MeminfoValue(const char* text, const char* name, uint64_t& bytes) {
  size_t length = std::strlen(name);
  for (const char* line = text; *line != '\0';) {
    if (std::strncmp(line, name, length) == 0 && line[length] == ':') {
      char* end = nullptr;
      unsigned long long kib = std::strtoull(line + length + 1, &end, 10);
      if (end == line + length + 1) return false;
      bytes = static_cast<uint64_t>(kib) * 1024;
      return true;
    }
    const char* next = std::strchr(line, '\n');
    if (next == nullptr) break;
    line = next + 1;
  }
  return false;
}

void MeasureCommit(EntropySample& sample) {
  int fd = ::open("/proc/meminfo", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  char text[8192];
  size_t used = 0;
  while (used < sizeof text - 1) {
    ssize_t got = ::read(fd, text + used, sizeof text - 1 - used);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    used += static_cast<size_t>(got);
  }
  ::close(fd);
  text[used] = '\0';
  uint64_t limit = 0, committed = 0;
  if (!MeminfoValue(text, "CommitLimit", limit) || !MeminfoValue(text, "Committed_AS", committed)) return;
  sample.commit_limit = limit;
  sample.commit_free = limit > committed ? limit - committed : 0;
  sample.commit_known = true;
}

}  // namespace

void MeasureEntropy(EntropySample& sample) {
  sample = EntropySample{};
  struct timespec ts;
  if (::clock_gettime(CLOCK_REALTIME, &ts) == 0)
    sample.file_time = (static_cast<uint64_t>(ts.tv_sec) + kEpochDifference) * 10000000u +
                       static_cast<uint64_t>(ts.tv_nsec) / 100;
  if (::clock_gettime(CLOCK_MONOTONIC, &ts) == 0)
    sample.monotonic_ns = static_cast<uint64_t>(ts.tv_sec) * 1000000000u + static_cast<uint64_t>(ts.tv_nsec);
  if (::clock_gettime(CLOCK_BOOTTIME, &ts) == 0)
    sample.boot_ms = static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000u +
                                           static_cast<uint64_t>(ts.tv_nsec) / 1000000u);
  sample.process_id = ProcessId();
  sample.module_address = reinterpret_cast<uintptr_t>(ModuleAddress());

  struct sysinfo info;
  if (::sysinfo(&info) == 0) {
    uint64_t unit = info.mem_unit == 0 ? 1 : info.mem_unit;
    sample.ram_total = uint64_t{info.totalram} * unit;
    sample.ram_free = uint64_t{info.freeram} * unit;
    sample.swap_total = uint64_t{info.totalswap} * unit;
    sample.swap_free = uint64_t{info.freeswap} * unit;
    sample.memory_known = true;
  }

  MeasureCommit(sample);

  struct statvfs disk;
  if (::statvfs(".", &disk) == 0) {
    uint64_t unit = disk.f_frsize != 0 ? disk.f_frsize : disk.f_bsize;
    sample.disk_total = uint64_t{disk.f_blocks} * unit;
    sample.disk_free = uint64_t{disk.f_bfree} * unit;
    sample.disk_known = true;
  }
}

bool SystemRandom(void* buffer, size_t size) {
  auto* p = static_cast<unsigned char*>(buffer);
  while (size > 0) {
    ssize_t got = ::getrandom(p, size, 0);
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (got == 0) return false;
    p += got;
    size -= static_cast<size_t>(got);
  }
  return true;
}

uint32_t ProcessId() { return static_cast<uint32_t>(::getpid()); }

}  // namespace tx::platform
