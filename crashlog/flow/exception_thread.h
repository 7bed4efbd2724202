#pragma once
// The worker that processes an exception of the main thread (`TExceptionThread`), the main
// thread's wait while it runs, and the pending-call slot through which the worker has event
// handlers run on the main thread.

#include <cstdint>
#include <functional>

namespace pelloran::crashlog {

// Runs `work` on a worker thread and waits for it; meanwhile the calling (main) thread repaints,
// beeps on key and mouse-button input, drops every other message and runs the calls posted with
// RunOnExceptionThread. Returns what `work` returned; false when it failed or the worker could not
// be started. The worker's identifier is Flow().WorkerThread while it runs.
bool RunOnExceptionThreadWorker(const std::function<bool()>& work);

// Runs `call` on the thread of the current exception (`exceptionThread`): directly when this is
// that thread, else through the pending-call slot, waiting until the owner ran it (in steps of at
// most 10 ms: the owner's wait loop looks at the slot at least that often).
// A failure inside the call is ignored either way.
void RunOnExceptionThread(std::uint32_t exceptionThread, const std::function<void()>& call);

// One round of the main thread's wait: the paint-type messages are dispatched (at most 11), and
// the posted call runs. Exposed for the freeze watcher's and the tests' use.
void PumpWhileProcessing();

}  // namespace pelloran::crashlog
