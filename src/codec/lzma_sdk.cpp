#include "codec/lzma_sdk.h"

#include <cstdlib>

namespace tx::codec {

namespace {

void* Allocate(void*, size_t size) { return std::malloc(size); }
void Release(void*, void* address) { std::free(address); }

ISzAlloc allocator = {Allocate, Release};

}  // namespace

ISzAlloc* LzmaAllocator() { return &allocator; }

}  // namespace tx::codec
