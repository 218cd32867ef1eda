// A file that takes the place of another only when it is complete. It is written under a
// temporary name beside its final name (".NAME.tessarex-XXXXXX", so a stray one left by a
// killed process tells what it was) and renamed onto the final name in one step; until
// then a file of that name stays as it was, and after a failure nothing partial is left.
#pragma once

#include <string>

#include "platform/directory.h"
#include "platform/file.h"

namespace tx::platform {

// A finished temporary file whose rename was put off (see Replacement::Detach).
struct PendingName {
  std::string temporary;  // UTF-8 names within one folder
  std::string name;
};

class Replacement {
 public:
  Replacement() = default;
  ~Replacement() { Discard(); }
  Replacement(const Replacement&) = delete;
  Replacement& operator=(const Replacement&) = delete;

  // Creates the temporary file for `name` in `dir` (mode 0666 minus umask). Fails when
  // `name` is not a plain name, when a folder stands there, or when the file there is
  // open in this process (it may be the input of the running call).
  bool Create(const Directory& dir, const char16_t* name);
  // The same without a handle of its own on `dir`: the caller keeps `dir` open, on the same
  // folder, until the file is committed, detached or discarded.
  bool CreateBorrowing(const Directory& dir, const char16_t* name);
  File& file() { return file_; }
  bool IsOpen() const { return file_.IsOpen(); }

  // Closes the file (flushed to disk first when `durable`) and renames it onto the final
  // name; with `durable` the folder's entry is flushed as well. False, with the
  // temporary file removed and any old file untouched, when a step fails.
  bool Commit(bool durable);
  // Closes the file and hands over its names instead of renaming it, for a caller that
  // renames it later with Publish (or removes it with RemovePending).
  bool Detach(PendingName& pending);
  // Closes and removes the temporary file, if one is pending.
  void Discard();

 private:
  bool Create(const Directory& dir, const char16_t* name, bool borrow);
  void Forget();

  Directory own_dir_;  // open only when the folder handle is not borrowed
  int dir_ = -1;
  File file_;
  std::string temporary_, name_;
  int slot_ = -1;  // in the registry a signal handler cleans up
};

// Renames a detached file onto its name in `dir`; RemovePending removes it instead.
bool Publish(const Directory& dir, const PendingName& pending);
void RemovePending(const Directory& dir, const PendingName& pending);

}  // namespace tx::platform
