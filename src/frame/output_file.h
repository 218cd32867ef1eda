// A file being written that replaces a file of its name only when the work succeeded: it
// is written under a temporary name beside its target and renamed onto it by Commit. Until
// then an old file of that name is untouched; unless committed, the temporary file is
// removed when the object goes away, on every path.
#pragma once

#include <cstdint>
#include <memory>

#include "frame/unix_mode.h"
#include "platform/directory.h"
#include "platform/file.h"
#include "platform/replacement.h"

namespace tx::frame {

class OutputFile {
 public:
  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // An archive, volume or joined file named by the caller (links in the path are
  // followed): flushed to disk before it takes its name. False: SysCall::CreateFile.
  bool Create(const char16_t* path);
  // An extracted file `name` in a folder already resolved beneath the output folder.
  bool Create(const platform::Directory& folder, const char16_t* name);
  // The same, holding `folder` open until the file is done instead of a handle of its own;
  // the folder must stay the same one while it is held.
  bool Create(std::shared_ptr<const platform::Directory> folder, const char16_t* name);
  platform::File& file() { return replacement_.file(); }
  bool IsOpen() const { return replacement_.IsOpen(); }

  // Closes the file and gives it its name. False: SysCall::CloseHandle (nothing is kept
  // then, and an old file of that name stays).
  bool Commit();
  // The same, after giving the file its Windows attributes, or the permissions its stored
  // Unix mode asks for when it has one (see unix_mode.h). Their failure, having no call of
  // its own to report, is ignored.
  bool Commit(uint32_t attributes, uint32_t unix_mode = kNoUnixMode);
  // Closes the file with its attributes but leaves it under its temporary name, for a
  // caller that names it only once more of the work has succeeded.
  bool Detach(uint32_t attributes, platform::PendingName& pending, uint32_t unix_mode = kNoUnixMode);
  // Closes and removes the file, if one was created and not committed.
  void Discard() {
    replacement_.Discard();
    folder_.reset();
  }

 private:
  // Set through the open file: the same outcome as after closing, without a lookup by path.
  void SetPermissions(uint32_t attributes, uint32_t unix_mode);

  std::shared_ptr<const platform::Directory> folder_;  // before replacement_: it outlives it
  platform::Replacement replacement_;
  bool durable_ = false;
};

}  // namespace tx::frame
