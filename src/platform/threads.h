// How many threads a call may spread its work over.
#pragma once

namespace tx::platform {

// The processors this process may run on, or TESSAREX_THREADS when it holds a number from
// 1 up (tests pin one or two threads with it). At least 1.
unsigned WorkThreads();

}  // namespace tx::platform
