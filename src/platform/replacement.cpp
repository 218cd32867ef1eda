#include "platform/replacement.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/failure.h"
#include "platform/open_files.h"
#include "platform/temporaries.h"
#include "platform/text.h"

namespace tx::platform {

namespace {

constexpr size_t kLongestName = 255;  // bytes of one name on the file systems we meet
constexpr char kMarker[] = ".tessarex-";
// Fills `out` (its capacity kept from file to file) with a fresh temporary name for `name`.
void TemporaryName(const std::string& name, std::string& out) {
  size_t room = kLongestName - 1 - (sizeof kMarker - 1) - kUniqueChars;
  char unique[kUniqueChars];
  UniqueChars(unique);
  out.assign(1, '.');
  out.append(name, 0, room);
  out += kMarker;
  out.append(unique, kUniqueChars);
}

}  // namespace

bool Replacement::Create(const Directory& dir, const char16_t* name) { return Create(dir, name, false); }

bool Replacement::CreateBorrowing(const Directory& dir, const char16_t* name) {
  return Create(dir, name, true);
}

bool Replacement::Create(const Directory& dir, const char16_t* name, bool borrow) {
  Discard();
  std::string target;
  if (!dir.IsOpen() || name == nullptr || !Utf16ToUtf8(name, target) || target.empty() || target == "." ||
      target == ".." || target.find('/') != std::string::npos)
    return false;
  struct stat st;
  if (::fstatat(dir.native(), target.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    if (S_ISDIR(st.st_mode)) {
      errno = EISDIR;
      NoteFailure(target);
      return false;
    }
    // Replacing a file this call is reading would lose what it reads (an archive
    // unpacked onto itself); as on Windows, an open file is not overwritten.
    if (S_ISREG(st.st_mode) &&
        IsOpenHere({static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)})) {
      errno = ETXTBSY;
      NoteFailure(target);
      return false;
    }
  }
  // A folder handle of its own, unless borrowed, so the caller's may go away before the rename.
  Directory own;
  if (!borrow && OpenBeneath(dir, u"", 0, false, own) != Beneath::Ok) return false;
  const int dir_fd = borrow ? dir.native() : own.native();
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    std::string temporary;
    TemporaryName(target, temporary);
    int fd = ::openat(dir_fd, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
      if (errno == EEXIST || errno == EINTR) continue;
      NoteFailure(target);
      return false;
    }
    if (!file_.Adopt(fd, target)) {
      ::close(fd);
      ::unlinkat(dir_fd, temporary.c_str(), 0);
      return false;
    }
    own_dir_ = std::move(own);
    dir_ = dir_fd;
    temporary_ = std::move(temporary);
    name_ = std::move(target);
    slot_ = RegisterTemporary(dir_, temporary_.c_str());
    return true;
  }
  return false;
}

bool Replacement::Commit(bool durable) {
  if (temporary_.empty()) return false;
  bool ok = (!durable || file_.Flush()) && file_.Close();
  if (ok && ::renameat(dir_, temporary_.c_str(), dir_, name_.c_str()) != 0) {
    NoteFailure(name_);
    ok = false;
  }
  if (!ok) {
    Discard();
    return false;
  }
  if (durable) ::fsync(dir_);
  Forget();
  return true;
}

bool Replacement::Detach(PendingName& pending) {
  if (temporary_.empty()) return false;
  if (!file_.Close()) {
    Discard();
    return false;
  }
  pending.temporary = temporary_;
  pending.name = name_;
  Forget();
  return true;
}

void Replacement::Discard() {
  if (temporary_.empty()) return;
  file_.Close();
  ::unlinkat(dir_, temporary_.c_str(), 0);
  Forget();
}

void Replacement::Forget() {
  UnregisterTemporary(slot_);
  slot_ = -1;
  temporary_.clear();
  own_dir_.Close();
  dir_ = -1;
}

bool Publish(const Directory& dir, const PendingName& pending) {
  if (dir.IsOpen() &&
      ::renameat(dir.native(), pending.temporary.c_str(), dir.native(), pending.name.c_str()) == 0)
    return true;
  NoteFailure(pending.name);
  return false;
}

void RemovePending(const Directory& dir, const PendingName& pending) {
  if (dir.IsOpen()) ::unlinkat(dir.native(), pending.temporary.c_str(), 0);
}

}  // namespace tx::platform
