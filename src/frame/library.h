// What the library does when it is loaded into a process and when it leaves it.
#pragma once

namespace tx::frame {

void OnLibraryLoad();
void OnLibraryUnload();

// The module's identity, remembered at load.
const void* ModuleHandle();

}  // namespace tx::frame
