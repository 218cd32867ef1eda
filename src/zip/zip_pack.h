// Creating ZIP archives: one file, or the files and folders a wildcard path or a list file
// names. Members are stored, deflated or compressed with BZip2, optionally under WinZip
// AES; the central directory may be compressed as a whole.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

#include "codec/compressor.h"
#include "codec/deflate_pieces.h"
#include "frame/output_file.h"
#include "frame/secrets.h"
#include "frame/status.h"
#include "zip/zip_records.h"

namespace tx::zip {

namespace place {
inline constexpr uint8_t kPackMember = 0x18;
}  // namespace place

// Option words: [0] demand encryption, [1] flags (bit 0 progress, bit 2 ask for the
// password), [2] method, [3] level 1-9, [4] central-directory flags, [5] encryption kind,
// [6] key length, [7] IV length, [8] validation data length, [9] strong-encryption flags,
// [10] signing flags, [11] signing digest, [12] NTFS times, [13] UTF-8 names; zip_pack2
// also [14]: the source is a list file.
StatusCode zip_pack1(void* parent, const char* archive, const char* source, const char* password,
                     const uint32_t* options);
StatusCode zip_pack2(void* parent, const char* archive, const char* source, const char* password,
                     const uint32_t* options);

inline constexpr size_t kPackBlock = 65536;
struct Signer;
using frame::Password;

inline constexpr size_t kDirectoryGrow = 8192;

// A growable central-directory block, wiped when it goes; its allocation failures are
// reported, not thrown. It grows in steps of 8192 bytes and never past the 32 bits of the
// directory's size field.
class DirectoryBlock {
 public:
  DirectoryBlock() = default;
  ~DirectoryBlock() { Wipe(); }
  DirectoryBlock(const DirectoryBlock&) = delete;
  DirectoryBlock& operator=(const DirectoryBlock&) = delete;

  uint8_t* data() { return bytes_.get(); }
  size_t size() const { return size_; }
  size_t capacity() const { return capacity_; }

  bool Reserve(size_t capacity);
  // Room for one more record of at most `length` bytes (null when it cannot be had);
  // Advance then counts what was written there.
  uint8_t* Room(size_t length);
  void Advance(size_t length) { size_ += length; }
  bool Append(const uint8_t* record, size_t length);

 private:
  void Wipe();
  std::unique_ptr<uint8_t[]> bytes_;
  size_t size_ = 0, capacity_ = 0;
};

// Progress is reported per 64 KiB of a member's input; the coder is handed larger windows.
inline constexpr size_t kPackWindow = 1 << 20;

// What writing members needs for a whole call: the archive, two data windows, the coder.
struct MemberWriter {
  frame::OutputFile archive;
  // Deflate members go through the pieces; the others use its first input and output as
  // windows.
  codec::PieceDeflater pieces;
  codec::Compressor coder;
  uint32_t flags = 0;  // the interface flags; bit 0 reports progress
  const Password* password = nullptr;
  ZipArchiveState* state = nullptr;  // keeps the random data strong encryption shares
  const Signer* signer = nullptr;    // signs members and the directory as the state's flags say
  // Set when members are packed on two threads: random draws and the state's shared random
  // data are taken under it, one member's prologue at a time.
  std::mutex* draws = nullptr;
  const std::atomic<bool>* stop = nullptr;  // asks a packer on another thread to give up

  // False when the windows cannot be had. With `threads` > 1 large Deflate members are
  // coded on two threads.
  bool Allocate(unsigned threads);
};

// Where a member's data goes: the archive, or a buffer that the archive's writer copies.
class MemberOutput {
 public:
  virtual bool Write(const uint8_t* data, size_t size) = 0;

 protected:
  ~MemberOutput() = default;
};

// Writes the data of one member (the local header is already written): encryption
// prologue, compressed and encrypted content, authentication code. Fills the CRC-32 and
// the compressed size of `entry`. Codes of place 0x18.
StatusCode PackMember(MemberWriter& writer, const char16_t* source, ZipEntryInfo& entry);
// The same into `out`; progress is reported only with `report` (the interface belongs to
// the calling thread).
StatusCode PackMemberTo(MemberWriter& writer, MemberOutput& out, const char16_t* source, ZipEntryInfo& entry,
                        bool report);
// The progress a member of `size` bytes reports while it is packed, for a member packed
// on another thread; a Cancel gives PackMember's code.
StatusCode ReplayProgress(uint64_t size);

// Digests the central-directory block (state.cd_original_size bytes) into the state and,
// as the state's flags say, compresses it with `cipher`'s method and level and encrypts it
// under `password` with `cipher`'s strong kind; the stored block replaces the original in
// `block` and its size goes to state.cd_size. `out` and `block` both hold `capacity` bytes.
StatusCode ProcessCentralDirectory(uint8_t* block, uint8_t* out, size_t capacity, const ZipEntryInfo& cipher,
                                   const Password& password, ZipArchiveState& state);

}  // namespace tx::zip
