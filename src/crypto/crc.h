// CRC-32 (reflected, polynomial 0xEDB88320) and CRC-64 (ECMA-182, most significant bit
// first) on the raw register: callers preset all ones and complement at the end.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tx::crypto {

uint32_t Crc32Update(uint32_t reg, const void* data, size_t size);

// One byte through the byte table, as the traditional ZIP cipher's key update needs.
uint32_t Crc32Byte(uint32_t reg, uint8_t byte);

uint64_t Crc64Update(uint64_t reg, const void* data, size_t size);

// The register as a low and a high 32-bit word, updated in place.
inline void Crc64Update(uint32_t (&reg)[2], const void* data, size_t size) {
  uint64_t r = Crc64Update((uint64_t{reg[1]} << 32) | reg[0], data, size);
  reg[0] = static_cast<uint32_t>(r);
  reg[1] = static_cast<uint32_t>(r >> 32);
}


}  // namespace tx::crypto
