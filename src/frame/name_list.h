// Lists of names to pack: UTF-16 names one after another, each ended by a zero unit (the
// list has no end mark of its own; its length in units is kept beside it).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "frame/status.h"
#include "platform/text.h"

namespace tx::frame {

// Places of these routines in status codes.
inline constexpr uint8_t kPlaceListFile = 0x37;
inline constexpr uint8_t kPlaceTypeOrder = 0x38;

// A growable list of names. Allocation failures are reported, never thrown, so that each
// caller can give its own code.
class NameBuffer {
 public:
  static constexpr size_t kGrowUnits = 8192;

  NameBuffer() = default;
  NameBuffer(NameBuffer&&) noexcept = default;
  NameBuffer& operator=(NameBuffer&&) noexcept = default;
  NameBuffer(const NameBuffer&) = delete;
  NameBuffer& operator=(const NameBuffer&) = delete;

  char16_t* data() { return units_.get(); }
  const char16_t* data() const { return units_.get(); }
  size_t used() const { return used_; }
  size_t capacity() const { return capacity_; }

  // Makes room for at least `units` in all, keeping the names; false when memory runs out.
  bool Reserve(size_t units);
  // Appends `size` units and a zero, growing by kGrowUnits steps; false when memory runs out.
  bool Append(const char16_t* name, size_t size);
  // Sets the used length after the caller filled the buffer (at most the capacity).
  void SetUsed(size_t units) { used_ = units <= capacity_ ? units : capacity_; }
  void Clear() { used_ = 0; }

 private:
  std::unique_ptr<char16_t[]> units_;
  size_t used_ = 0;
  size_t capacity_ = 0;
};

// Reads a list file: UTF-8 text with CR LF line ends; the first non-empty line is the base
// directory, each further one a name relative to it. `base` gets the directory with "/"
// separators and a final "/"; `names` gets the names with "\" turned into "/"; `count`
// their number. Lines are checked as names (codes of place 0x31); a name that becomes
// refused once its "\" are "/" is refused too. Codes of place 0x37: cannot open 0x01023701,
// empty or size unknown 0x01083701, read failed 0x01033701, not valid text (or holding a
// zero byte) 0x01203701, no memory 0x00203701 or 0x00213701, no name after the base
// 0x00133701. A base that cannot take its final "/" gives 0x00113102.
StatusCode ReadListFile(const char16_t* path, platform::WidePath& base, uint32_t& count, NameBuffer& names);

// Reorders `length` units of names in place so that names of one type stand together:
// mode 0 leaves them, mode 1 groups them by a table of known extensions and then by
// extension, mode 2 also moves executables last. No memory: 0x00203801.
StatusCode OrderByType(int mode, char16_t* names, size_t length);

// Copies the non-empty names of `source` into `target` from index `start`, last name
// first; `target` must have room for `length` units there. Returns the index after the
// last unit written.
size_t AppendReversed(char16_t* target, size_t start, const char16_t* source, size_t length);

}  // namespace tx::frame
