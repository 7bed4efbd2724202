#include "crashlog/flow/handlers.h"

#include "crashlog/flow/error_in_progress.h"
#include "crashlog/flow/exception_thread.h"
#include "crashlog/infra/diagnostics/diagnostics.h"

namespace pelloran::crashlog {

void RunOnRecordThread(const TCrashExceptionRecord& record, const std::function<void()>& call) {
  RunOnExceptionThread(record.ThreadID, call);
  if (record.ExceptionObject != nullptr)
    PublishException(record.ExceptionObject->Info, reinterpret_cast<const void*>(record.ExceptionAddress),
                     record.ExceptionObject->IsLanguageRaise, record.ThreadID);
}

TCrashLogHandlers& CrashLogHandlers() {
  static TCrashLogHandlers handlers;
  return handlers;
}

const TCrashExceptionRecord* CurrentRecord() {
  const TErrorInProgress* error = CurrentError();
  return error != nullptr ? &error->Record : nullptr;
}

bool RunNotifyHandler(const TCrashExceptionRecord& record, bool handled) {
  if (!CrashLogHandlers().Notify) return handled;
  RunOnRecordThread(record, [&] { CrashLogHandlers().Notify(record, handled); });
  return handled;
}

bool RunActionHandler(const TCrashExceptionRecord& record, TCrashAction action, bool execute) {
  if (!CrashLogHandlers().Action) return execute;
  RunOnRecordThread(record, [&] { CrashLogHandlers().Action(record, action, execute); });
  return execute;
}

bool RunActionFailedHandler(const TCrashExceptionRecord& record, TCrashAction action) {
  bool retry = false;
  if (!CrashLogHandlers().ActionFailed) return retry;
  RunOnRecordThread(record, [&] { CrashLogHandlers().ActionFailed(record, action, retry); });
  return retry;
}

TReportEvents ReportEventsFor(const TCrashExceptionRecord& record) {
  TReportEvents events;
  if (CrashLogHandlers().Action)
    events.ActionHandler = [&record](TCrashAction action, bool& execute) {
      execute = RunActionHandler(record, action, execute);
    };
  if (CrashLogHandlers().ActionFailed)
    events.ActionFailedHandler = [&record](TCrashAction action, bool& retry) {
      retry = RunActionFailedHandler(record, action);
    };
  return events;
}

}  // namespace pelloran::crashlog
