#pragma once
// The application's event handlers as the report steps call them. The pipeline that handles an
// exception fills these in (each call already routed to the exception's thread and given the
// exception record); an empty function is a handler that does not exist.

#include <functional>

namespace pelloran::crashlog {

enum class TCrashAction : int {
  BeforeShow = 0,
  AfterShow = 1,
  BeforeLog = 2,
  AfterLog = 3,
  BeforeSend = 4,
  AfterSend = 5,
  Terminate = 6,
};

struct TReportEvents {
  // Before and after each action; clearing `execute` in a "before" call skips the action.
  std::function<void(TCrashAction action, bool& execute)> ActionHandler;
  // After a failed action; setting `retry` repeats it.
  std::function<void(TCrashAction action, bool& retry)> ActionFailedHandler;
};

}  // namespace pelloran::crashlog
