// Memory for large tables read at random.
#pragma once

#include <cstddef>

namespace tx::platform {

// `size` bytes aligned to 2 MiB and offered to the kernel for huge pages, which spares most
// address-translation misses of a match finder's tables; nullptr when there is no memory.
// Released with std::free.
void* AllocateLarge(size_t size);

}  // namespace tx::platform
