#include "frame/output_file.h"

#include <string>

#include "platform/fs.h"
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
  platform::RereadUmask();
  return replacement_.Create(dir, name.c_str());
}

bool OutputFile::Create(const platform::Directory& folder, const char16_t* name) {
  Discard();
  durable_ = false;
  return replacement_.Create(folder, name);
}

bool OutputFile::Create(std::shared_ptr<const platform::Directory> folder, const char16_t* name) {
  Discard();
  durable_ = false;
  if (folder == nullptr) return false;
  folder_ = std::move(folder);
  if (replacement_.CreateBorrowing(*folder_, name)) return true;
  folder_.reset();
  return false;
}

bool OutputFile::Commit() {
  bool ok = replacement_.Commit(durable_);
  folder_.reset();
  return ok;
}

void OutputFile::SetPermissions(uint32_t attributes, uint32_t unix_mode) {
  if (!replacement_.IsOpen()) return;
  uint32_t permissions;
  if (PermissionsFor(unix_mode, permissions))
    replacement_.file().SetPermissions(permissions);
  else
    replacement_.file().SetAttributes(attributes);
}

bool OutputFile::Commit(uint32_t attributes, uint32_t unix_mode) {
  SetPermissions(attributes, unix_mode);
  return Commit();
}

bool OutputFile::Detach(uint32_t attributes, platform::PendingName& pending, uint32_t unix_mode) {
  SetPermissions(attributes, unix_mode);
  bool ok = replacement_.Detach(pending);
  folder_.reset();
  return ok;
}

}  // namespace tx::frame
