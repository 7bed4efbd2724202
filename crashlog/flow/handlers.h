#pragma once
// The application's event handlers and the record of the error they are shown. None is assigned
// in Pelloran itself; each runs on the thread of the exception (RunOnExceptionThread), and a
// failure inside one is ignored.

#include <cstdint>
#include <functional>
#include <string>

#include "crashlog/capture/report_events.h"
#include "crashlog/flow/raised_exception.h"
#include "crashlog/infra/debuginfo/stack.h"

namespace pelloran::crashlog {

class TCrashModulesList;
class TCrashModuleOptions;

// The error in progress as the application's event handlers see it (CurrentRecord).
struct TCrashExceptionRecord {
  const TRaisedException* ExceptionObject = nullptr;
  std::uintptr_t ExceptionAddress = 0;
  std::uint32_t ThreadID = 0;
  std::string LogText;
  TCrashModulesList* ModulesList = nullptr;
  const TCrashStackList* CallStack = nullptr;
  TCrashModuleOptions* ModuleOptions = nullptr;
};

struct TCrashLogHandlers {
  // Clearing `handled` hands the exception back to the framework's own handler.
  std::function<void(const TCrashExceptionRecord&, bool& handled)> Notify;
  // Called before and after each action; clearing `execute` before it skips it.
  std::function<void(const TCrashExceptionRecord&, TCrashAction, bool& execute)> Action;
  // Called after a failed action; setting `retry` repeats it.
  std::function<void(const TCrashExceptionRecord&, TCrashAction, bool& retry)> ActionFailed;
};
TCrashLogHandlers& CrashLogHandlers();
// The record of the error being processed, or nullptr.
const TCrashExceptionRecord* CurrentRecord();

// Runs `call` on the exception's thread; afterwards the exception is published on this module's
// channel again (the call may have raised and caught others in between).
void RunOnRecordThread(const TCrashExceptionRecord& record, const std::function<void()>& call);
// Each runs its handler, when one is assigned, for `record` on the exception's thread and returns
// the flag as the handler left it (`handled` / `execute`, retry for ActionFailed).
bool RunNotifyHandler(const TCrashExceptionRecord& record, bool handled);
bool RunActionHandler(const TCrashExceptionRecord& record, TCrashAction action, bool execute);
bool RunActionFailedHandler(const TCrashExceptionRecord& record, TCrashAction action);
// The handlers as the report and delivery steps call them, bound to `record`. The record must
// outlive the events.
TReportEvents ReportEventsFor(const TCrashExceptionRecord& record);

}  // namespace pelloran::crashlog
