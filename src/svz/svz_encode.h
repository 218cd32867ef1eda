// Encoding one folder into a 7z archive: the files of the folder read for exactly the sizes
// recorded when they were found, their CRC-32 values, the x86 branch converter, the
// compressor, and the AES stage in front of the archive. Also the one-call coding of a
// packed main header.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "codec/bcj_x86.h"
#include "codec/block.h"
#include "codec/compressor.h"
#include "codec/lzma_encoder.h"
#include "frame/status.h"
#include "platform/file.h"
#include "svz/svz_aes.h"
#include "svz/svz_header.h"

namespace tx::svz {

namespace place {
inline constexpr uint8_t kPackFolder = 0x18;
}  // namespace place

inline constexpr size_t kEncodeBlock = 65536;
// The smallest folder whose LZMA matches are found on a thread of their own.
inline constexpr uint64_t kThreadedLzmaMinimum = uint64_t{1} << 20;

// A file to pack, as the walk found it.
struct SourceFile {
  std::u16string path;  // full path on disk
  std::u16string name;  // name in the archive, for progress
  uint64_t size = 0;
};

// Where the codes of one encoding come from: a folder of one file (place 0x18) or a solid
// block (the export's own place).
struct EncodeSites {
  uint8_t place = place::kPackFolder;
  StatusCode open = 0, read = 0, cancel = 0, pad = 0, lzma_pad = 0;
  bool announce_files = false;  // each file opened shows its name in the progress window
  uint32_t item_base = 0, item_total = 0;
  const std::atomic<bool>* stop = nullptr;  // set: give up (as cancelled) before the next read
};

EncodeSites FolderSites();
EncodeSites SolidSites();
// The code of a failed write of a folder's coded bytes.
StatusCode FolderWriteCode(const EncodeSites& sites, uint32_t method);

// The cipher stage: counts the coded bytes, encrypts whole 16-byte blocks when a cipher is
// set, zero-pads a final partial block, and writes to the archive.
class CipherWriter final : public codec::ByteSink {
 public:
  explicit CipherWriter(uint8_t* buffer) : buffer_(buffer) {}
  void Begin(platform::File* archive, StreamCipher* cipher, StatusCode write_failure);
  bool Write(const uint8_t* data, size_t size) override;
  // Writes what is buffered, padded to 16 with zeros when encrypting.
  bool Finish();
  uint64_t coded() const { return coded_; }
  uint64_t packed() const { return packed_; }
  StatusCode failure() const { return failure_; }

 private:
  bool Flush(size_t size);
  uint8_t* buffer_;  // kEncodeBlock bytes
  size_t used_ = 0;
  platform::File* archive_ = nullptr;
  StreamCipher* cipher_ = nullptr;
  uint64_t coded_ = 0, packed_ = 0;
  StatusCode write_failure_ = 0, failure_ = 0;
};

// Reads the files of one folder one after another, each for exactly its recorded size (a
// file that shrank since is a read failure; bytes it gained are not read), keeps one
// CRC-32 per file, and runs the x86 converter across file boundaries.
class SolidReader final : public codec::ByteSource {
 public:
  void Begin(const SourceFile* files, size_t count, bool bcj, bool progress, const EncodeSites& sites,
             uint32_t* crcs);
  bool Read(uint8_t* buffer, size_t& size) override;
  StatusCode failure() const { return failure_; }
  uint64_t total() const { return total_; }

 private:
  bool NextFile();
  bool Fill(uint8_t* buffer, size_t size, size_t& filled);
  bool ReadConverted(uint8_t* buffer, size_t& size);  // `size` at least 16

  const SourceFile* files_ = nullptr;
  size_t count_ = 0, index_ = 0;
  platform::File file_;
  bool open_ = false, done_ = false;
  uint64_t left_ = 0;  // of the current file
  uint32_t crc_ = 0;
  uint32_t* crcs_ = nullptr;
  bool bcj_ = false;
  codec::X86Converter converter_{true};
  uint8_t carry_[8] = {};
  size_t carry_size_ = 0;
  uint8_t pending_[32] = {};
  size_t pending_pos_ = 0, pending_size_ = 0;
  bool progress_ = false;
  uint64_t total_ = 0, consumed_ = 0;
  EncodeSites sites_;
  StatusCode failure_ = 0;
};

// What a folder came to.
struct FolderResult {
  uint64_t size = 0;    // all its files
  uint64_t coded = 0;   // compressor output
  uint64_t packed = 0;  // bytes written to the archive
  uint8_t properties[5] = {};
};

// The buffers and coders of a whole call, allocated once.
class FolderEncoder {
 public:
  // False when the buffers cannot be had.
  bool Allocate();

  // Encodes `count` files as one folder behind the archive's current position, with the
  // chain of `coder` (method, BCJ, AES under `key`); the CRC-32 of file i goes to crcs[i].
  // LZMA properties are stored into `coder` as well.
  StatusCode Encode(const SourceFile* files, size_t count, uint32_t level, CoderRecord& coder,
                    const uint8_t* key, platform::File& archive, bool progress, const EncodeSites& sites,
                    uint32_t* crcs, FolderResult& result);

  // 2: LZMA finds the matches of a folder of kThreadedLzmaMinimum bytes or more on a
  // thread of its own.
  void set_lzma_threads(int threads) { lzma_threads_ = threads; }

 private:
  StatusCode Stream(SolidReader& reader, uint32_t method, CipherWriter& writer, const EncodeSites& sites);
  std::unique_ptr<uint8_t[]> input_, output_, cipher_;
  codec::Compressor compressor_;
  int lzma_threads_ = 1;
};

// Compresses a main header for storing: Deflate level 9, BZip2 with a block size for its
// length, LZMA with the header settings; Copy copies. `properties` gets LZMA's five bytes.
StatusCode CompressHeader(uint32_t method, const Bytes& header, Bytes& out, uint8_t properties[5],
                          StatusCode failure);

// The codes of storing a main header: writing it plain, the packed header, the encoded
// header, the start header (and seeking to it), a compression failure, a cipher failure.
struct HeaderSites {
  StatusCode plain, packed, encoded, seek, start, compress, cipher;
};

// Stores `header` behind the packed streams (which end at `packed_end`, counted from the
// end of the start header), plain or through `chain`: its flags, method, and for AES its
// cycles, salt size and IV size; a new IV and salt are drawn and the key taken from `keys`.
// Then the start header at offset 0 points at it.
StatusCode StoreHeader(platform::File& file, uint64_t packed_end, const Bytes& header,
                       const CoderRecord& chain, KeyCache& keys, const WidePassword& password, bool progress,
                       const HeaderSites& sites);

}  // namespace tx::svz
