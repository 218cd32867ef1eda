// The temporary files being written right now, so that a host's signal handler can remove
// them before the process ends (a kill that cannot be caught may still leave one).
#pragma once

#include <cstddef>

namespace tx::platform {

// Characters that make a temporary name unique in its folder: a per-process start drawn once
// at random (mixed with the process id) plus a counter, so a file costs no system call for
// its name. Distinct within the process; an O_EXCL create still settles clashes with others.
inline constexpr size_t kUniqueChars = 6;
void UniqueChars(char (&out)[kUniqueChars]);

// Registers `name` in the folder `dir_fd`; returns the slot, or -1 when all are taken.
int RegisterTemporary(int dir_fd, const char* name);
void UnregisterTemporary(int slot);
// Removes every registered file. Async-signal-safe: only atomics and unlinkat.
void RemoveTemporaries();

}  // namespace tx::platform
