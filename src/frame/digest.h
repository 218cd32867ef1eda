// Digests of whole files: one body for the eight algorithms.
#pragma once

#include <cstddef>
#include <cstdint>

#include "frame/status.h"

namespace tx::frame {

enum class DigestAlgorithm { Crc32, Crc64, Md5, Ripemd160, Sha1, Sha256, Sha512, Whirlpool };

// Result bytes of the algorithm (4 for CRC-32 up to 64 for SHA-512 and Whirlpool).
size_t DigestSize(DigestAlgorithm algorithm);

// Reads the file ahead in 1 MiB buffers on a second thread, hashes it and reports progress
// in 64 KiB blocks, and writes the result into `result` only on success.
// Only flag bit 0 (progress window) is read.
StatusCode FileDigest(DigestAlgorithm algorithm, void* parent, const char* path, uint32_t flags,
                      void* result);

}  // namespace tx::frame
