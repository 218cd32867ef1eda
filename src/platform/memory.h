// Memory for large tables read at random.
#pragma once

#include <cstddef>

namespace tx::platform {

// `size` bytes; from 4 MiB on aligned to 2 MiB and offered to the kernel for huge pages,
// which spares most address-translation misses of a match finder's tables and of large
// buffers (smaller blocks come from malloc). nullptr when there is no memory. Released with
// std::free.
void* AllocateLarge(size_t size);

}  // namespace tx::platform
