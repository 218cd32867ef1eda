// What the encoder and the decoder share of the LZMA SDK: its headers and its allocator.
#pragma once

#include <lzma/LzmaDec.h>
#include <lzma/LzmaEnc.h>

namespace tx::codec {

// malloc and free for every SDK allocation.
ISzAlloc* LzmaAllocator();

}  // namespace tx::codec
