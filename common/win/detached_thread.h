// A thread that nobody waits for.
#pragma once
#include <functional>

namespace edms::win {

// Runs `body` on a new thread that is never joined; false when no thread could be started
// (then `body` does not run, and the reason is traced). An exception that leaves `body` is traced and ends the thread.
//
// Made with the C runtime's own thread start, never std::thread's detach: this toolchain's
// thread library gives a detached thread's record back to its free list even when the thread
// has ended but is still leaving, and leaving gives it back again; the next two threads then
// share one record and one of them starts on the other's (or no) routine. Seen as page faults
// in the agent a few times in a hundred starts.
bool StartDetachedThread(std::function<void()> body);

}  // namespace edms::win
