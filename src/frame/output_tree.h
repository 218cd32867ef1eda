// The output folder of an extraction. Every folder below it is made and opened beneath it
// one component at a time without following a link, so links already in the output
// folder cannot carry a write outside it; files are written through OutputFile and take
// their names only when complete.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "frame/output_file.h"
#include "frame/status.h"
#include "platform/directory.h"
#include "platform/replacement.h"

namespace tx::frame {

// Places of these routines in status codes.
inline constexpr uint8_t kPlaceParentDirectories = 0x3A;
inline constexpr uint8_t kPlaceDirectoryEntry = 0x3B;
inline constexpr uint8_t kPlacePublish = 0x3D;

class OutputTree {
 public:
  OutputTree() = default;
  ~OutputTree() { DiscardAll(); }
  OutputTree(const OutputTree&) = delete;
  OutputTree& operator=(const OutputTree&) = delete;

  // Opens the output folder (as resolved for the call; links in its path are the
  // caller's and are followed). Not openable: 0x00123401.
  StatusCode Open(const char16_t* folder);

  // Creates `out` for the file named by `relative` ("/"-separated, already checked as a
  // name), making missing folders on the way. A link where a folder must be 0x00143A02,
  // another non-folder 0x00143A01, a folder not made 0x010B3A01, the file not created
  // 0x0102PPOO with the caller's place and occurrence.
  StatusCode CreateFile(const char16_t* relative, OutputFile& out, StatusCode create_failure);

  // Restores a folder entry: made when missing (with its parents), then its last-write
  // time set (0 leaves it). Folders keep their permissions: a read-only one could not
  // receive its files. A link or a file in the way 0x00143B02 or
  // 0x00143B01; not made 0x010B3B01; time not readable 0x01073B01; not set 0x01063B01
  // (no creation time given) or 0x01063B02.
  StatusCode MakeFolder(const char16_t* relative, platform::FileTime creation, platform::FileTime last_write);

  // Keeps a finished file under its temporary name until PublishAll; files still pending
  // when the tree goes away (or DiscardAll is called) are removed. Close failed:
  // 0x01003D01.
  StatusCode Defer(OutputFile& out, const char16_t* relative, uint32_t attributes);
  // Gives every deferred file its name, in the order they were written. A folder that
  // cannot be reopened 0x010B3D01, a rename that fails 0x010F3D01 (the files not yet
  // named are removed).
  StatusCode PublishAll();
  void DiscardAll();

 private:
  // The folder part of `relative` opened beneath the root (the last one is kept, since
  // archives store a folder's files together). `name` points at the final component.
  StatusCode Folder(const char16_t* relative, bool create,
                    const std::shared_ptr<platform::Directory>*& folder, const char16_t*& name,
                    uint8_t place);

  struct Deferred {
    std::u16string folder;
    platform::PendingName names;
  };

  // Shared with the files being written in them, which use these handles to the end: a
  // folder still held by one is never reopened in place.
  std::shared_ptr<platform::Directory> root_ = std::make_shared<platform::Directory>();
  std::u16string cached_path_;
  std::shared_ptr<platform::Directory> cached_;
  std::vector<Deferred> deferred_;
};

}  // namespace tx::frame
