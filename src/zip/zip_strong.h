// Strong encryption of ZIP members with a password: 3DES-168 and AES-128/192/256 in CBC
// mode behind a decryption header (IV, encrypted random data, validation data). The keys
// come from SHA-1 with the 0x36/0x5C expansion; the random data is made once per archive.
#pragma once

#include <cstddef>
#include <cstdint>

#include "crypto/cbc.h"
#include "frame/secrets.h"
#include "frame/status.h"
#include "platform/file.h"
#include "zip/zip_records.h"

namespace tx::zip {

namespace place {
inline constexpr uint8_t kStrongHeader = 0x13;
}  // namespace place

inline constexpr size_t kStrongRandomSize = 128;
inline constexpr size_t kStrongMaxIv = 16;
inline constexpr size_t kStrongMaxTransport = 4096;
// Everything after the size field of the largest header a writer makes: fixed fields,
// encrypted random data, the certificate part with a full key-transport list, validation data.
inline constexpr size_t kStrongMaxHeaderRest = 10 + 144 + 8 + kStrongMaxTransport + 2 + 128;
inline constexpr size_t kStrongMaxHeader = 2 + kStrongMaxIv + 4 + kStrongMaxHeaderRest;

// The cipher block of a strong kind: 8 for 3DES, 16 for AES, 0 for anything else.
size_t StrongBlock(uint32_t kind);

// One CBC chain (validation data, then the member's data) for a strong kind.
class StrongCipher {
 public:
  // Kind 11 takes a 24-byte key, kind 12 a key of `key_length` bytes; the IV is a block.
  bool Init(uint32_t kind, uint32_t key_length, const uint8_t* key, const uint8_t* iv, bool encrypt);
  // In place over whole blocks (`size` a multiple of block()).
  bool Run(uint8_t* data, size_t size) { return cbc_.Run(data, size); }
  size_t block() const { return cbc_.block(); }

 private:
  crypto::CbcCipher cbc_;
};

// Key derivation from the SHA-1 (20 bytes) of a secret: expanded with 0x36 and 0x5C and
// hashed again into 40 bytes, of which the first 32 go to `key`.
bool StrongDeriveKey(const uint8_t* hash, uint8_t key[32]);

// The master key of password mode (or of both modes) from `password`.
bool StrongPasswordKey(const frame::Password& password, uint8_t key[32]);

// Makes the archive's random data and seals it (with a block of padding) under
// `master_key` with the master cipher that `entry`'s kind and `flags` select.
StatusCode SealStrongRandom(const uint8_t* master_key, const ZipEntryInfo& entry, uint32_t flags,
                            ZipArchiveState& state);

// Builds a member's decryption header into `out` (kStrongMaxHeader bytes) and leaves
// `cipher` ready to encrypt the data that follows. The entry gives kind, key length, IV
// length, validation length and flags; the state keeps the archive's random data, made by
// the first call (or kept from the directory being rebuilt, with its certificate part).
StatusCode BuildStrongHeader(uint8_t* out, size_t& length, const frame::Password& password,
                             const ZipEntryInfo& entry, ZipArchiveState& state, StrongCipher& cipher);

// Checks a whole decryption header (`length` bytes) against the entry's cipher, checks the
// password against it (asking for one first when it is empty and `flags` bit 2 is set,
// which is then cleared) and leaves `cipher` ready to decrypt the data that follows.
// With `keep`, what rebuilding the header needs goes there: the random data, its encrypted
// form, the certificate part, the IV and validation lengths.
StatusCode ParseStrongHeader(const uint8_t* header, size_t length, uint32_t& flags, frame::Password& password,
                             const ZipEntryInfo& entry, StrongCipher& cipher,
                             ZipArchiveState* keep = nullptr);

// Reads a member's decryption header from `archive` (positioned at the member's data) and
// parses it; `data_length` gets the bytes of encrypted data that follow, checked to be
// whole blocks, at least one. Nothing beyond the member and no more than the largest legal
// header is ever read.
StatusCode ReadStrongHeader(platform::File& archive, uint64_t compressed_size, uint32_t& flags,
                            frame::Password& password, const ZipEntryInfo& entry, StrongCipher& cipher,
                            uint64_t& data_length);

// The length of strict padding at the end of `data` (`size` ≥ block): 1..block bytes, all
// equal to their count; 0 when the padding is wrong.
size_t StrongPadding(const uint8_t* data, size_t size, size_t block);

}  // namespace tx::zip
