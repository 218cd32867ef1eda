// Finding and reading the header of a 7z archive, for every reader: the start header
// searched for (a stub in front is skipped), the next header checked against the file
// and its CRC, a packed header decrypted and decompressed, then indexed. Nothing is
// allocated from a size the file cannot hold.
#pragma once

#include <cstdint>

#include "frame/secrets.h"
#include "frame/status.h"
#include "platform/file.h"
#include "svz/svz_aes.h"
#include "svz/svz_index.h"

namespace tx::svz {

// The password of one reading call: asked for at most once, converted once, and the key
// of the last derivation kept for folders that share its parameters.
struct ReaderSecrets {
  frame::Password password;
  WidePassword wide;
  KeyCache keys;
  bool converted = false;
  bool ask = false;  // the prompt may still be shown
  bool progress = false;

  // The key for `coder`: the password asked for when it is empty and asking is allowed
  // (`on_cancel`), converted (`on_conversion`), the key derived or reused.
  StatusCode Key(const CoderRecord& coder, StatusCode on_cancel, StatusCode on_conversion,
                 const uint8_t*& key);
};

struct ReadOptions {
  bool single = false;             // svz_unpack1: fixed 64 KiB header buffers
  bool demand_encryption = false;  // the header must be encrypted
  StatusCode open_failure = 0;     // the archive not opened
  StatusCode password_conversion = 0;
};

struct OpenedArchive {
  platform::File file;
  uint64_t file_size = 0;
  uint64_t base = 0;  // file offset of the end of the start header: pack offsets count from here
  bool header_packed = false;
  CoderRecord header_coder;
  ArchiveIndex index;
};

// Opens `path` and reads its header into `archive` (the file stays open).
StatusCode OpenArchive(const char16_t* path, const ReadOptions& options, ReaderSecrets& secrets,
                       OpenedArchive& archive);

}  // namespace tx::svz
