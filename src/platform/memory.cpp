#include "platform/memory.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>

namespace tx::platform {

void* AllocateLarge(size_t size) {
  constexpr size_t kHuge = size_t{2} << 20;
  if (size < 2 * kHuge) return std::malloc(size);
  if (size > SIZE_MAX - kHuge) return nullptr;
  const size_t rounded = (size + kHuge - 1) & ~(kHuge - 1);
  void* block = std::aligned_alloc(kHuge, rounded);
  // Only advice: without huge pages (or where the kernel refuses) the block works as well.
  if (block != nullptr) ::madvise(block, rounded, MADV_HUGEPAGE);
  return block;
}

}  // namespace tx::platform
