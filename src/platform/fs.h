// File-system calls by path: attributes, times, delete, move, directories, temporary
// names. Every call returns false on failure; the comment names the call it stands for
// (see SysCall). Directory paths may be given with or without a trailing "/".
#pragma once

#include <cstdint>

#include "platform/open_files.h"
#include "platform/text.h"
#include "platform/types.h"

namespace tx::platform {

struct FileInfo {
  uint32_t attributes = 0;  // kAttrDirectory, kAttrArchive (regular file), kAttrReadOnly
  uint64_t size = 0;
  FileTime creation = 0;  // 0 where the file system keeps no birth time
  FileTime last_access = 0;
  FileTime last_write = 0;
  uint64_t device = 0;  // with the inode, the file's identity (the same file by any name)
  uint64_t inode = 0;
};

// GetFileAttributes. Symbolic links are followed; a missing path fails. Read-only means
// the owner has no write permission.
bool GetFileInfo(const char16_t* path, FileInfo& info);

// True when two FileInfo results describe one file (the same device and inode).
inline bool IsSameFile(const FileInfo& a, const FileInfo& b) {
  return a.device == b.device && a.inode == b.inode;
}

// DeleteFile: a file, never a directory.
bool DeleteFile(const char16_t* path);

// True when both paths name one existing file (the same device and inode).
bool SameFile(const char16_t* a, const char16_t* b);

// MoveFile. Fails when something already exists at `to`. Across file systems only a
// regular file moves: it is copied with its mode and times under a temporary name beside
// the target, flushed, renamed into place and the source removed; on failure neither a
// partial target nor the temporary copy is left.
bool MoveFile(const char16_t* from, const char16_t* to);

// CreateDirectory: fails if anything exists at the path.
bool CreateDirectory(const char16_t* path);

// GetCurrentDirectory: fails when the directory needs 1024 units or more with its terminator.
bool CurrentDirectory(WidePath& out);

// GetTempPath: $TMPDIR, else /tmp/, always ending in "/". The directory is not checked.
bool TempPath(WidePath& out);

// GetTempFileName: creates a new empty file named `prefix` and six unique characters in
// `directory` (with the permissions of any new file), closes it and returns its path.
bool TempFileName(const char16_t* directory, const char16_t* prefix, WidePath& out);
// A new folder only its owner may enter, in the temporary folder, named `prefix` and six
// unique characters; and its removal once empty.
bool PrivateTempFolder(const char16_t* prefix, WidePath& out);
bool RemoveEmptyFolder(const char16_t* path);

// Reads the process umask afresh for the permissions given from now on (see
// detail::ReadUmask); a call that writes many files does this once at its start.
void RereadUmask();

namespace detail {
// The stat behind GetFileInfo, for `name` (UTF-8) relative to an open directory
// descriptor; DirSearch reports its entries through it.
bool FileInfoAt(int directory_fd, const char* name, FileInfo& info);
// The process umask (its rwx bits), read without changing it: as last read, which is at the
// first use or after RereadUmask. False when unreadable.
bool ReadUmask(uint32_t& mask);
}  // namespace detail

}  // namespace tx::platform
