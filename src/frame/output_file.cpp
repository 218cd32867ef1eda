#include "frame/output_file.h"

#include "platform/fs.h"

namespace tx::frame {

bool OutputFile::Create(const char16_t* path) {
  Discard();
  size_t n = platform::Utf16Length(path);
  if (n >= platform::kWidePathUnits) return false;
  std::char_traits<char16_t>::copy(path_.units, path, n + 1);
  if (!file_.Open(path_.c_str(), platform::Access::Write, platform::Disposition::CreateAlways)) return false;
  pending_ = true;
  return true;
}

bool OutputFile::Commit() {
  if (!pending_) return true;
  if (!file_.Close()) {
    Discard();
    return false;
  }
  pending_ = false;
  return true;
}

bool OutputFile::Commit(uint32_t attributes) {
  // Set through the open file: the same outcome as after closing, without a lookup by path.
  if (pending_) file_.SetAttributes(attributes);
  return Commit();
}

void OutputFile::Discard() {
  if (!pending_) return;
  file_.Close();
  platform::DeleteFile(path_.c_str());
  pending_ = false;
}

}  // namespace tx::frame
