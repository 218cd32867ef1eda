// The library's load and unload entry.
#include "frame/library.h"

namespace {

__attribute__((constructor)) void LibraryLoad() { tx::frame::OnLibraryLoad(); }
__attribute__((destructor)) void LibraryUnload() { tx::frame::OnLibraryUnload(); }

}  // namespace
