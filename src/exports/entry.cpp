// The library's load and unload entry.
#include <cstdlib>

#include "frame/library.h"

namespace {

void LibraryUnload() { tx::frame::OnLibraryUnload(); }

// The unload work is registered as exit work rather than as a destructor: exit work runs
// at dlclose of this library too, and at process exit it runs before the cleanup that
// OpenSSL registered earlier (during the load), while OpenSSL is still usable.
__attribute__((constructor)) void LibraryLoad() {
  tx::frame::OnLibraryLoad();
  std::atexit(LibraryUnload);
}

}  // namespace
