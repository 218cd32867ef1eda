#include "codec/lzma_sdk.h"

#include <cstdlib>

#include "platform/memory.h"

namespace tx::codec {

namespace {

// The match finder's tables and window, and the decoder's dictionary, are read at random.
void* Allocate(void*, size_t size) { return platform::AllocateLarge(size); }
void Release(void*, void* address) { std::free(address); }

ISzAlloc allocator = {Allocate, Release};

}  // namespace

ISzAlloc* LzmaAllocator() { return &allocator; }

}  // namespace tx::codec
