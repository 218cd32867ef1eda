// Loading the central directory of an archive being read: found through the tail, read
// into memory, its digital signature record taken off, then decoded (decompressed and
// checked against its digest) and cleared of the archive extra data record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "frame/status.h"
#include "platform/file.h"
#include "platform/system.h"
#include "zip/zip_records.h"

namespace tx::zip {

namespace place {
inline constexpr uint8_t kCentralDirectory = 0x14;  // decoding the block
inline constexpr uint8_t kVerification = 0x52;      // signatures over the directory or a member
}  // namespace place

// An object that is wiped when it goes, for the entry and archive records, which carry
// names, signatures and key parameters.
template <typename T>
class Wiped {
 public:
  Wiped() : value_(std::make_unique<T>()) {}
  ~Wiped() { platform::WipeMemory(value_.get(), sizeof(T)); }
  Wiped(const Wiped&) = delete;
  Wiped& operator=(const Wiped&) = delete;
  T& operator*() { return *value_; }
  T* operator->() { return value_.get(); }

 private:
  std::unique_ptr<T> value_;
};

// A password argument: at most 250 bytes, wiped when it goes.
class ZipPassword {
 public:
  ~ZipPassword() { platform::WipeMemory(bytes_, sizeof bytes_); }
  void Set(const char* text);
  const char* c_str() const { return bytes_; }
  size_t size() const;
  bool empty() const { return bytes_[0] == 0; }
  char* buffer() { return bytes_; }  // for the password prompt: 251 bytes

 private:
  char bytes_[251] = {};
};

struct CentralDirectory {
  platform::File file;
  uint64_t file_size = 0;
  std::unique_ptr<uint8_t[]> block;  // the records once decoded
  size_t length = 0;
  std::unique_ptr<uint8_t[]> decoded;  // room for a compressed directory's original size
  ZipEntryInfo cipher;                 // method and cipher of a compressed or encrypted directory
};

// How much the caller can take: one member in a small directory, or any archive.
enum class DirectoryLimit { kSingleMember, kWhole };

// Opens the archive, reads the tail and the block as stored, and takes the digital
// signature record off. An archive without entries stops early with an empty block.
StatusCode OpenCentralDirectory(const char16_t* archive, DirectoryLimit limit, CentralDirectory& cd,
                                ZipArchiveState& state);

// Undoes encryption (refused for now: 0x00441405) and compression, checks the digest and
// removes the archive extra data record; for a plain signed directory, digests the block.
StatusCode DecodeCentralDirectory(CentralDirectory& cd, ZipArchiveState& state);

// Checking signatures needs the certificate support of a later stage; until then every
// signature is reported as one that cannot be checked: 0x00445201.
StatusCode VerifySignature(const uint8_t* signature, size_t size, const ZipArchiveState& state);

}  // namespace tx::zip
