// The stream level of a PEA archive: a checksum or digest, or one of three encryption
// modes that encrypt and authenticate everything after the headers. Keys come from the
// password, the archive's first 22 bytes and an optional key file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "frame/status.h"
#include "pea/pea_check.h"
#include "pea/pea_types.h"

namespace tx::pea {

// Password (at most 250 bytes), the 22 header bytes, the first 2048 bytes of a key file.
class PeaKeyMaterial {
 public:
  static constexpr size_t kCapacity = 250 + kKeyHeaderSize + 2048;
  PeaKeyMaterial() = default;
  ~PeaKeyMaterial() { Wipe(); }
  PeaKeyMaterial(const PeaKeyMaterial&) = delete;
  PeaKeyMaterial& operator=(const PeaKeyMaterial&) = delete;

  // Builds it; `key_file` may be null or empty for none. Key-file failures: 0x01021101
  // (open), 0x01031101 (read).
  StatusCode Build(const char* password, const uint8_t header[kKeyHeaderSize], const char16_t* key_file);
  void Wipe();
  const uint8_t* data() const { return bytes_; }
  size_t size() const { return size_; }

 private:
  uint8_t bytes_[kCapacity] = {};
  size_t size_ = 0;
};

class PeaCipherState;  // the state of modes 48, 49 and 65

// The stream state: a check of ids 1-21, or an encryption mode. Wiped when it goes.
class PeaStreamState {
 public:
  PeaStreamState();
  ~PeaStreamState();
  PeaStreamState(const PeaStreamState&) = delete;
  PeaStreamState& operator=(const PeaStreamState&) = delete;

  // True once the set-up or a primitive failed, or an encryption mode was fed without its
  // set-up. Such a state zeroes the bytes it is given instead of passing them on in the
  // clear, and its tag is all zeros; callers that check this report NoMemory.
  bool failed() const;

 private:
  friend bool pea_stream_setup(const uint8_t*, size_t, PeaArchiveInfo&, PeaStreamState&);
  friend void pea_stream_encrypt(uint8_t*, size_t, uint8_t, PeaStreamState&);
  friend void pea_stream_decrypt(uint8_t*, size_t, uint8_t, PeaStreamState&);
  friend size_t pea_stream_final(uint8_t, uint8_t*, PeaStreamState&);
  PeaCheckState check_;
  std::unique_ptr<PeaCipherState> cipher_;
  bool failed_ = false;
};

// Starts the stream level named by info.stream_algorithm. Modes 48, 49, 65 derive their
// keys from the key material and info.salt and store the verifier in info.verifier; ids
// 1-21 start their check; other ids do nothing. False only when the primitives fail
// (allocation or OpenSSL), which callers report as NoMemory.
bool pea_stream_setup(const uint8_t* key_material, size_t length, PeaArchiveInfo& info,
                      PeaStreamState& state);
// Writer side: encrypts in place and authenticates, or only feeds the check.
void pea_stream_encrypt(uint8_t* data, size_t length, uint8_t algorithm, PeaStreamState& state);
// Reader side: authenticates, then decrypts in place; or only feeds the check.
void pea_stream_decrypt(uint8_t* data, size_t length, uint8_t algorithm, PeaStreamState& state);
// Writes the stream control tag (16 bytes for the modes, the check's size for 1-21, 0 else)
// and wipes the key state.
size_t pea_stream_final(uint8_t algorithm, uint8_t* out, PeaStreamState& state);

}  // namespace tx::pea
