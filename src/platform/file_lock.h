// An advisory lock on a file for the length of a change to it, so that two processes
// updating one archive take turns instead of one losing the other's change.
#pragma once

namespace tx::platform {

class FileLock {
 public:
  FileLock() = default;
  ~FileLock() { Release(); }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  // Waits for the exclusive lock on the existing file at `path`. A holder that replaced
  // the file meanwhile left the lock on the old one, so the lock is taken again until it
  // sits on the file the path names. False when the file cannot be opened or locked.
  bool Acquire(const char16_t* path);
  void Release();

 private:
  int fd_ = -1;
};

}  // namespace tx::platform
