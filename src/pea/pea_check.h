// The check algorithms of a PEA archive: checksums and digests by their one-byte ids, as
// used at the volume, stream and object levels.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <variant>

#include "crypto/hash.h"

namespace tx::pea {

enum PeaCheckAlgorithm : uint8_t {
  kCheckNone = 0,
  kCheckAdler32 = 1,
  kCheckCrc32 = 2,
  kCheckCrc64 = 3,
  kCheckMd5 = 16,
  kCheckRipemd160 = 17,
  kCheckSha1 = 18,
  kCheckSha256 = 19,
  kCheckSha512 = 20,
  kCheckWhirlpool = 21,
  kModeAes128Hmac = 48,
  kModeAes128Eax = 49,
  kModeAes256Eax = 65,
};

inline constexpr size_t kMaxCheckSize = 64;

// Ids 1 to 21: a checksum or digest. Ids of 48 and more encrypt (the stream level only).
bool IsCheckAlgorithm(uint8_t id);
bool IsEncryptionMode(uint8_t id);
// Result bytes of a checksum or digest id (0 for none and for unknown ids).
size_t CheckSize(uint8_t id);
// The status class of a tag that does not match: checksum, digest or authentication.
uint8_t MismatchClass(uint8_t id);

// One running checksum or digest of ids 1 to 21, for one level of checks.
struct PeaCheckState {
  uint8_t id = kCheckNone;
  bool failed = false;  // a digest could not be started (OpenSSL out of memory)
  std::variant<std::monostate, uint32_t, uint64_t, crypto::Md5Context, crypto::Rmd160Context, crypto::Sha1Context,
               crypto::Sha256Context, crypto::Sha512Context, crypto::WhirlpoolContext>
      value;
};

// Starts the algorithm and returns its result size (0 for none or an unknown id).
size_t pea_check_init(uint8_t algorithm, PeaCheckState& state);
// Feeds bytes; nothing happens for ids without a check.
void pea_check_update(const void* data, size_t length, uint8_t algorithm, PeaCheckState& state);
// Writes the result to `out` (kMaxCheckSize bytes of room) and returns its size.
size_t pea_check_final(uint8_t algorithm, uint8_t* out, PeaCheckState& state);

// "Volume control tag (CRC32)" and kin: kind 1 volume, 2 stream, 3 object, 0 the name
// alone. An id without a name shows as "unknown (N)".
std::string pea_check_name(int kind, uint8_t algorithm);

}  // namespace tx::pea
