#include "frame/output_file.h"

#include <string>

#include "platform/text.h"

namespace tx::frame {

bool OutputFile::Create(const char16_t* path) {
  Discard();
  if (path == nullptr) return false;
  std::u16string text = path;
  size_t slash = text.find_last_of(u'/');
  std::u16string folder = slash == std::u16string::npos ? u"." : slash == 0 ? u"/" : text.substr(0, slash);
  std::u16string name = slash == std::u16string::npos ? text : text.substr(slash + 1);
  platform::Directory dir;
  if (name.empty() || !dir.Open(folder.c_str())) return false;
  durable_ = true;
  return replacement_.Create(dir, name.c_str());
}

bool OutputFile::Create(const platform::Directory& folder, const char16_t* name) {
  Discard();
  durable_ = false;
  return replacement_.Create(folder, name);
}

bool OutputFile::Commit() { return replacement_.Commit(durable_); }

bool OutputFile::Commit(uint32_t attributes) {
  // Set through the open file: the same outcome as after closing, without a lookup by path.
  if (replacement_.IsOpen()) replacement_.file().SetAttributes(attributes);
  return Commit();
}

bool OutputFile::Detach(uint32_t attributes, platform::PendingName& pending) {
  if (replacement_.IsOpen()) replacement_.file().SetAttributes(attributes);
  return replacement_.Detach(pending);
}

}  // namespace tx::frame
