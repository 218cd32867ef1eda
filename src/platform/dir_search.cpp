#include "platform/dir_search.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>

#include "platform/failure.h"

namespace tx::platform {

namespace {

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

struct ScopedFd {
  int fd;
  ~ScopedFd() {
    if (fd >= 0) ::close(fd);
  }
};

bool IsContinuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// Steps over one character: a lead byte and its continuation bytes (or one stray byte).
const char* NextCharacter(const char* p) {
  ++p;
  while (IsContinuation(*p)) ++p;
  return p;
}

// `*` and `?` only, on UTF-8 names. fnmatch would make brackets and backslashes special,
// though both are ordinary in names, and its `?` takes a byte or a character depending on
// the process locale; here `?` is always one character.
bool MatchWildcards(const char* pattern, const char* name) {
  const char* star = nullptr;    // just after the last `*` seen, for backtracking
  const char* resume = nullptr;  // where that `*` stopped taking characters
  while (*name != 0) {
    if (*pattern == '*') {
      star = ++pattern;
      resume = name;
    } else if (*pattern == '?') {
      ++pattern;
      name = NextCharacter(name);
    } else if (*pattern != 0 && *pattern == *name) {
      ++pattern;
      ++name;
    } else if (star != nullptr) {
      pattern = star;
      name = resume = NextCharacter(resume);
    } else {
      return false;
    }
  }
  while (*pattern == '*') ++pattern;
  return *pattern == 0;
}

bool IsDotOrDotDot(const char* name) {
  return name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0));
}

}  // namespace

void DirSearch::Add(int directory_fd, const char* name) {
  Entry entry;
  if (!detail::FileInfoAt(directory_fd, name, entry.info)) {
    // Still there without following links: a dangling link, worth reporting. An entry
    // that vanished since the listing is simply gone.
    struct stat st;
    if (::fstatat(directory_fd, name, &st, AT_SYMLINK_NOFOLLOW) == 0) ++skipped_;
    return;
  }
  if ((entry.info.attributes & (kAttrDirectory | kAttrArchive)) == 0) {
    ++skipped_;
    return;
  }
  entry.name = name;
  entries_.push_back(std::move(entry));
}

bool DirSearch::First(const char16_t* pattern, FindData& data) {
  entries_.clear();
  next_ = 0;
  skipped_ = 0;
  invalid_names_ = 0;
  unreadable_ = false;
  std::string path;
  if (pattern == nullptr || !Utf16ToUtf8(pattern, path)) return false;
  size_t slash = path.rfind('/');
  std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  std::string mask = slash == std::string::npos ? path : path.substr(slash + 1);
  if (mask.empty()) return false;

  if (mask.find_first_of("*?") == std::string::npos) {
    // One literal name: look it up without listing the directory.
    if (IsDotOrDotDot(mask.c_str())) return false;
    ScopedFd dir_fd{::open(dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC)};
    if (dir_fd.fd < 0) {
      unreadable_ = errno != ENOENT && errno != ENOTDIR;
      NoteFailure(dir);
      return false;
    }
    Add(dir_fd.fd, mask.c_str());
    if (entries_.empty()) NoteFailure(path);
    return Next(data);
  }

  int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    unreadable_ = errno != ENOENT && errno != ENOTDIR;
    NoteFailure(dir);
    return false;
  }
  DirHandle handle(::fdopendir(fd));
  if (!handle) {
    ::close(fd);
    unreadable_ = true;
    return false;
  }
  WidePath check;
  for (;;) {
    errno = 0;
    const dirent* item = ::readdir(handle.get());
    if (item == nullptr) {
      if (errno == 0) break;
      entries_.clear();
      unreadable_ = true;
      NoteFailure(dir);
      return false;
    }
    if (IsDotOrDotDot(item->d_name) || !MatchWildcards(mask.c_str(), item->d_name)) continue;
    if (!Utf8ToUtf16(item->d_name, check.units, kWidePathUnits)) {
      ++skipped_;
      ++invalid_names_;
      continue;
    }
    Add(::dirfd(handle.get()), item->d_name);
  }
  std::sort(entries_.begin(), entries_.end(), [](const Entry& a, const Entry& b) { return a.name < b.name; });
  return Next(data);
}

bool DirSearch::Next(FindData& data) {
  if (next_ >= entries_.size()) return false;
  const Entry& entry = entries_[next_++];
  static_cast<FileInfo&>(data) = entry.info;
  return Utf8ToUtf16(entry.name.c_str(), data.name.units, kWidePathUnits);
}

}  // namespace tx::platform
