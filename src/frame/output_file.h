// A file being written that must not outlive a failure: unless the work is committed, the
// file is closed and deleted when the object goes away, on every path.
#pragma once

#include "platform/file.h"
#include "platform/text.h"

namespace tx::frame {

class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile() { Discard(); }
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Creates (or replaces) the file for writing. False: SysCall::CreateFile.
  bool Create(const char16_t* path);
  platform::File& file() { return file_; }
  const char16_t* path() const { return path_.c_str(); }
  bool IsOpen() const { return file_.IsOpen(); }

  // Closes the file and keeps it. False: SysCall::CloseHandle (the file is then deleted).
  bool Commit();
  // Closes and keeps the file, then gives it its Windows attributes (whose failure, having
  // no call of its own to report, is ignored).
  bool Commit(uint32_t attributes);
  // Closes and deletes the file, if one was created and not committed.
  void Discard();

 private:
  platform::File file_;
  platform::WidePath path_;
  bool pending_ = false;
};

}  // namespace tx::frame
