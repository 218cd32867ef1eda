// An open file. Every failing member returns false; the comment names the call it stands
// for (see SysCall). The descriptor is closed by the destructor on every path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/open_files.h"
#include "platform/types.h"

namespace tx::platform {

enum class Access { Read, Write, ReadWrite };
enum class Disposition {
  OpenExisting,  // fail if missing
  CreateAlways,  // create or truncate
  CreateNew,     // fail if it exists
  OpenAlways,    // open or create, keep content
};
enum class SeekFrom { Begin, Current, End };

struct FileTimes {
  FileTime creation = 0;  // 0 where the file system keeps no birth time
  FileTime last_access = 0;
  FileTime last_write = 0;
};

class File {
 public:
  File() = default;
  ~File();
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // CreateFile. Only regular files open. A file this process already holds open is shared
  // as on Windows: readers with readers only; a writer with no one (and it is not
  // truncated then). `sequential` hints read-ahead.
  bool Open(const char16_t* path, Access access, Disposition disposition, bool sequential = false);
  bool IsOpen() const { return fd_ >= 0; }

  // ReadFile: exactly `size` bytes; reaching the end of the file first is a failure.
  bool Read(void* buffer, size_t size);
  // ReadFile: up to `size` bytes, fewer only at the end of the file.
  bool ReadPartial(void* buffer, size_t size, size_t& got);
  // Exactly `size` bytes from `offset`, leaving the position alone; several threads may
  // read one file so at once. A failure is noted for the reading thread.
  bool ReadAt(uint64_t offset, void* buffer, size_t size);
  // WriteFile: all bytes or failure.
  bool Write(const void* buffer, size_t size);
  // Moves up to `size` bytes from `from`'s position to this file's inside the kernel
  // (copy_file_range), both positions advancing; `copied` gets how many. False with
  // `copied` 0 when the kernel cannot copy between these files (the caller reads and
  // writes instead), or on a failure.
  bool CopyFrom(File& from, size_t size, size_t& copied);
  // SetFilePointer.
  bool Seek(int64_t offset, SeekFrom from, uint64_t* position = nullptr);
  // GetFileSize.
  bool Size(uint64_t& size) const;
  // FlushFileBuffers.
  bool Flush();
  // Starts writing the file's changed pages to disk without waiting for them, so that a
  // later Flush has less left to do. False when the system does not take the hint.
  bool StartWriteback();
  // SetEndOfFile at the current position (WriteFile).
  bool Truncate();
  // GetFileTime.
  bool GetTimes(FileTimes& times) const;
  // SetFileTime: last-write time only; the platform cannot set a creation time, and a
  // zero time leaves the stored one unchanged.
  bool SetWriteTime(FileTime last_write);
  // Windows attributes on the open file: 0x01 removes the write permissions, its absence
  // gives the owner write permission back; other bits mean nothing on disk. Returns false
  // when the permissions cannot be changed (there is no call of its own to report).
  bool SetAttributes(uint32_t attributes);
  // Gives this file the permission bits of `other` (a replacement keeps who may read the
  // file it replaces). False when they cannot be read or set.
  bool SetModeFrom(const File& other);
  // Gives the open file the rwx bits of `permissions` less the process umask; setuid,
  // setgid and sticky are never set. False when the permissions cannot be changed.
  bool SetPermissions(uint32_t permissions);
  // CloseHandle. Closing a closed file succeeds.
  bool Close();

 private:
  friend class Replacement;
  // Takes a descriptor of a regular file just created for writing.
  bool Adopt(int fd, std::string name);

  // Notes a failed call against this file's name.
  bool Failed() const;
  // Changes the permission bits unless they are those already.
  bool SetMode(uint32_t mode);

  int fd_ = -1;
  std::string name_;  // UTF-8, for failure reports
  FileIdentity id_;
  bool writer_ = false;
  uint32_t mode_ = 0;  // permission bits since opening, as this object last set them
};

namespace detail {
// The last-write time of an open file or folder (0 leaves it), for the platform layer.
bool SetWriteTimeOf(int fd, FileTime last_write);
}  // namespace detail

// Conversions between FileTime and the platform's seconds and nanoseconds since 1970.
FileTime FileTimeFromUnixNanos(int64_t seconds, int64_t nanoseconds);
void FileTimeToUnixNanos(FileTime time, int64_t& seconds, int64_t& nanoseconds);

}  // namespace tx::platform
