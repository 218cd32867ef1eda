// The last failed system call of the running library call, in words a person can act on:
// the path it concerned and the system's own reason. Status codes say which step failed;
// this says on what and why, for hosts that show it.
#pragma once

#include <string>

namespace tx::platform {

// Notes the current errno against `path` (UTF-8; empty when the call concerned no path).
// An errno of 0 is noted as an unexpected end of file (a short read).
void NoteFailure(const std::string& path);
void NoteFailure(const char16_t* path);
void ClearFailure();
// "PATH: reason", "reason", or empty when nothing failed.
std::string FailureText();

}  // namespace tx::platform
