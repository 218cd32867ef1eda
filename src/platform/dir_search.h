// Directory search by pattern. The whole matching set is read, checked and sorted by
// First, so the order of names (byte order of their UTF-8 form) never depends on the file
// system and archives come out the same on every run.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/fs.h"
#include "platform/text.h"

namespace tx::platform {

// One entry found: its name without the directory, and what GetFileInfo reports for it.
struct FindData : FileInfo {
  WidePath name;
};

class DirSearch {
 public:
  DirSearch() = default;
  DirSearch(const DirSearch&) = delete;
  DirSearch& operator=(const DirSearch&) = delete;

  // FindFirstFile. `pattern` is a path whose last component may hold `*` (any run of
  // characters, also a leading ".") and `?` (one character); every other character,
  // brackets and backslashes included, stands for itself, and case matters. "." and ".."
  // are never reported; symbolic links report what they point to. Fails when the
  // directory cannot be read or nothing matches.
  bool First(const char16_t* pattern, FindData& data);
  // FindNextFile: false when no entry is left.
  bool Next(FindData& data);

  // Matching entries left out because they cannot be reported: names that are not valid
  // UTF-8, dangling links, and entries that are neither files nor directories (devices,
  // pipes, sockets), which could not be archived and may block when opened.
  size_t skipped() const { return skipped_; }
  // Of those, the names that are not valid UTF-8: files that exist but cannot be named.
  size_t invalid_names() const { return invalid_names_; }
  // True when First failed because the folder could not be opened or read, not because
  // nothing matched.
  bool unreadable() const { return unreadable_; }

 private:
  struct Entry {
    std::string name;  // UTF-8, checked
    FileInfo info;
  };

  // Stats a matching name and keeps it, or counts it as skipped.
  void Add(int directory_fd, const char* name);

  std::vector<Entry> entries_;
  size_t next_ = 0;
  size_t skipped_ = 0;
  size_t invalid_names_ = 0;
  bool unreadable_ = false;
};

}  // namespace tx::platform
