// The folders below a packing source, walked for the names to pack. Links are followed,
// as archivers do, but every folder is entered once (by device and inode), so a link that
// loops back adds its own name and nothing below it; the archive being written is left
// out wherever it is met.
#pragma once

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <utility>

#include "frame/status.h"
#include "platform/dir_search.h"

namespace tx::frame {

inline constexpr uint8_t kPlaceFolderWalk = 0x39;

class FolderWalk {
 public:
  // Called for each entry with its name relative to the base (folders without a final
  // separator); a nonzero code ends the walk with that code.
  using Visit = std::function<StatusCode(const std::u16string& name, const platform::FindData& found)>;

  // `base` ends in "/"; stored names join their components with `separator`.
  FolderWalk(const char16_t* base, char16_t separator) : base_(base), separator_(separator) {}

  // Leaves out the existing file `path` (the archive about to be replaced) wherever the
  // walk meets it.
  void LeaveOut(const char16_t* path);
  bool IsLeftOut(const platform::FileInfo& found) const;
  // Starts a packer's search of the base for `pattern` (a final separator searches the
  // folder itself), with the base counted as entered and `archive` left out: the first
  // match is in `found`, and `finder` gives the others. No match: `not_found`; a name on
  // disk that is not valid UTF-8 0x01203901.
  StatusCode Start(const char16_t* pattern, const char16_t* archive, platform::DirSearch& finder,
                   platform::FindData& found, StatusCode not_found);
  // Counts `folder` as entered (the base, or a folder matched at the top); false when it
  // was entered before.
  bool Enter(const platform::FileInfo& folder);

  // Enters the folder `name` (relative to the base, empty for the base itself) unless it
  // was entered before, and visits everything below it, each folder before what it
  // holds, depth first, in name order. A name of 1024 units or more 0x00130001; a folder
  // that cannot be read 0x01013901; a name on disk that is not valid UTF-8 0x01203901.
  StatusCode Descend(const std::u16string& name, const platform::FindData& folder, const Visit& visit);

 private:
  std::u16string base_;
  char16_t separator_;
  std::set<std::pair<uint64_t, uint64_t>> entered_;
  bool leave_out_ = false;
  platform::FileInfo left_out_;
};

}  // namespace tx::frame
