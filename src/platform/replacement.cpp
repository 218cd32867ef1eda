#include "platform/replacement.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/random.h>
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
constexpr size_t kUnique = 6;

// Six characters that make the temporary name unique in its folder.
std::string UniquePart(unsigned attempt) {
  static const char kAlphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  unsigned char random[kUnique] = {};
  if (::getrandom(random, sizeof random, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof random)) {
    // Only uniqueness matters here; the O_EXCL create refuses a name in use.
    unsigned long seed = static_cast<unsigned long>(::getpid()) * 2654435761u + attempt * 40503u;
    for (unsigned char& c : random) c = static_cast<unsigned char>(seed >>= 5);
  }
  std::string out;
  for (unsigned char c : random) out += kAlphabet[c % (sizeof kAlphabet - 1)];
  return out;
}

std::string TemporaryName(const std::string& name, unsigned attempt) {
  size_t room = kLongestName - 1 - (sizeof kMarker - 1) - kUnique;
  std::string out = ".";
  out.append(name, 0, room);
  out += kMarker;
  out += UniquePart(attempt);
  return out;
}

void SyncFolder(const Directory& dir) { ::fsync(dir.native()); }

}  // namespace

bool Replacement::Create(const Directory& dir, const char16_t* name) {
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
  // A folder handle of its own, so the caller's may go away before the rename.
  Directory own;
  if (OpenBeneath(dir, u"", 0, false, own) != Beneath::Ok) return false;
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    std::string temporary = TemporaryName(target, attempt);
    int fd =
        ::openat(own.native(), temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
      if (errno == EEXIST || errno == EINTR) continue;
      NoteFailure(target);
      return false;
    }
    if (!file_.Adopt(fd, target)) {
      ::close(fd);
      ::unlinkat(own.native(), temporary.c_str(), 0);
      return false;
    }
    dir_ = std::move(own);
    temporary_ = std::move(temporary);
    name_ = std::move(target);
    slot_ = RegisterTemporary(dir_.native(), temporary_.c_str());
    return true;
  }
  return false;
}

bool Replacement::Commit(bool durable) {
  if (temporary_.empty()) return false;
  bool ok = (!durable || file_.Flush()) && file_.Close();
  if (ok && ::renameat(dir_.native(), temporary_.c_str(), dir_.native(), name_.c_str()) != 0) {
    NoteFailure(name_);
    ok = false;
  }
  if (!ok) {
    Discard();
    return false;
  }
  if (durable) SyncFolder(dir_);
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
  ::unlinkat(dir_.native(), temporary_.c_str(), 0);
  Forget();
}

void Replacement::Forget() {
  UnregisterTemporary(slot_);
  slot_ = -1;
  temporary_.clear();
  dir_.Close();
}

bool Publish(const Directory& dir, const PendingName& pending) {
  return dir.IsOpen() &&
         ::renameat(dir.native(), pending.temporary.c_str(), dir.native(), pending.name.c_str()) == 0;
}

void RemovePending(const Directory& dir, const PendingName& pending) {
  if (dir.IsOpen()) ::unlinkat(dir.native(), pending.temporary.c_str(), 0);
}

}  // namespace tx::platform
