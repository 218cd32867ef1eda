// The temporary files being written right now, so that a host's signal handler can remove
// them before the process ends (a kill that cannot be caught may still leave one).
#pragma once

namespace tx::platform {

// Registers `name` in the folder `dir_fd`; returns the slot, or -1 when all are taken.
int RegisterTemporary(int dir_fd, const char* name);
void UnregisterTemporary(int slot);
// Removes every registered file. Async-signal-safe: only atomics and unlinkat.
void RemoveTemporaries();

}  // namespace tx::platform
