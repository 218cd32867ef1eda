// The files this process holds open through File, with the sharing a Windows archiver
// relies on: an open reader admits other readers but no writer; a writer admits no one.
// Without it, extracting an archive over itself or packing a file into itself would
// truncate the input before anything noticed.
#pragma once

#include <cstdint>

namespace tx::platform {

struct FileIdentity {
  uint64_t device = 0;
  uint64_t inode = 0;
  bool operator==(const FileIdentity&) const = default;
};

// False when the sharing of the files already open forbids this open.
bool AdmitOpen(const FileIdentity& id, bool writer);
void ReleaseOpen(const FileIdentity& id, bool writer);
bool IsOpenHere(const FileIdentity& id);

}  // namespace tx::platform
