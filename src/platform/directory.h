// Open directories, and folders resolved beneath one of them. Extraction works inside an
// output folder that may already hold symbolic links (planted by an earlier archive or by
// someone else); resolving every folder beneath the output folder without following any
// link keeps writes inside it whatever the tree holds.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/types.h"

namespace tx::platform {

enum class Beneath {
  Ok,
  Link,           // a symbolic link stands where a folder must be
  NotADirectory,  // something else that is not a folder stands there
  Missing,        // a folder is missing and was not to be made
  Failed,         // a folder could not be opened or made
};

class Directory;

// Opens the folder `relative` (its first `length` units, "/"-separated) beneath `root`,
// one component at a time, never following a link and never leaving `root`; "." and
// empty components stay where they are, ".." is refused (Failed). With `create`, missing
// folders are made (mode 0777 minus umask).
Beneath OpenBeneath(const Directory& root, const char16_t* relative, size_t length, bool create, Directory& out);

class Directory {
 public:
  Directory() = default;
  ~Directory();
  Directory(Directory&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  Directory& operator=(Directory&& other) noexcept;
  Directory(const Directory&) = delete;
  Directory& operator=(const Directory&) = delete;

  // Opens a directory named by the caller; links in the path are followed, since the
  // caller chose them. False when it is missing or not a directory.
  bool Open(const char16_t* path);
  bool IsOpen() const { return fd_ >= 0; }
  void Close();

  // The last-write time of the open folder itself; SetWriteTime with 0 leaves it.
  // (Folders keep their permissions: a read-only folder could not receive its files.)
  bool GetWriteTime(FileTime& time) const;
  bool SetWriteTime(FileTime time);

  // The descriptor, for the platform layer only.
  int native() const { return fd_; }

 private:
  friend Beneath OpenBeneath(const Directory&, const char16_t*, size_t, bool, Directory&);
  int fd_ = -1;
};

// What stands at `name` in `dir`, links not followed.
enum class EntryKind { Missing, File, Folder, Link, Other };
EntryKind KindAt(const Directory& dir, const char16_t* name);

}  // namespace tx::platform
