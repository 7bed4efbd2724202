#pragma once
// The foreground window, when it belongs to this process. The window in front may be another
// program's (an editor holding a document): its class, title and focused text are that program's
// business and never go into a report.

#include <windows.h>

namespace pelloran::crashlog {

// nullptr when no window is in front or the one in front belongs to another process.
HWND OwnForegroundWindow() noexcept;

}  // namespace pelloran::crashlog
