// How many threads a call may keep busy at once.
#pragma once

namespace tx::platform {

// The processors this process may run on, at most `limit`; TESSAREX_THREADS (a positive number) overrides the
// count, within the same limit, so that runs on different machines can be compared.
unsigned WorkerThreads(unsigned limit);

}  // namespace tx::platform
