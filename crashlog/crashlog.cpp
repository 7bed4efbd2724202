// The public interface forwards to the reporter's own installation and handler slots; the
// exception record is copied into the plain ErrorReport so that no internal type leaves.
#include "crashlog/crashlog.h"

#include <windows.h>

#include "crashlog/capture/report_additions.h"
#include "crashlog/flow/install.h"
#include "crashlog/flow/pipeline.h"

namespace crashlog {

namespace internal = pelloran::crashlog;

namespace {

static_assert(static_cast<int>(Action::BeforeShow) == static_cast<int>(internal::TCrashAction::BeforeShow));
static_assert(static_cast<int>(Action::Terminate) == static_cast<int>(internal::TCrashAction::Terminate));

ErrorReport ToErrorReport(const internal::TCrashExceptionRecord& record) {
  ErrorReport report;
  if (record.ExceptionObject != nullptr) {
    report.ClassName = record.ExceptionObject->Info.ClassName;
    report.Message = record.ExceptionObject->Info.Message;
  }
  report.Address = record.ExceptionAddress;
  report.ThreadId = record.ThreadID;
  report.Text = record.LogText;
  return report;
}

}  // namespace

bool InstallReporter() { return internal::InstallReporter(); }

void UninstallReporter() { internal::UninstallReporter(); }

void SetNotifyHandler(std::function<void(const ErrorReport&, bool& handled)> handler) {
  auto& slot = internal::CrashLogHandlers().Notify;
  if (!handler) {
    slot = nullptr;
    return;
  }
  slot = [handler = std::move(handler)](const internal::TCrashExceptionRecord& record, bool& handled) {
    handler(ToErrorReport(record), handled);
  };
}

void SetActionHandler(std::function<void(const ErrorReport&, Action, bool& execute)> handler) {
  auto& slot = internal::CrashLogHandlers().Action;
  if (!handler) {
    slot = nullptr;
    return;
  }
  slot = [handler = std::move(handler)](const internal::TCrashExceptionRecord& record, internal::TCrashAction action,
                                        bool& execute) {
    handler(ToErrorReport(record), static_cast<Action>(action), execute);
  };
}

void SetActionFailedHandler(std::function<void(const ErrorReport&, Action, bool& retry)> handler) {
  auto& slot = internal::CrashLogHandlers().ActionFailed;
  if (!handler) {
    slot = nullptr;
    return;
  }
  slot = [handler = std::move(handler)](const internal::TCrashExceptionRecord& record, internal::TCrashAction action,
                                        bool& retry) {
    handler(ToErrorReport(record), static_cast<Action>(action), retry);
  };
}

bool Report(const std::exception& error, bool showDialog) {
  return internal::ReportHandledException(internal::TExceptionObject::Of(error), !showDialog);
}

bool ReportCurrentException(bool showDialog) { return internal::ReportHandledException({}, !showDialog); }

bool SetTag(std::string_view name, std::string_view value) { return internal::SetReportTag(name, value); }

void RemoveTag(std::string_view name) { internal::RemoveReportTag(name); }

bool AddFile(std::string_view path) {
  // Kept with its folder: the mail is sent later, perhaps from another current folder.
  const std::string given(path);
  char full[MAX_PATH];
  const DWORD length = ::GetFullPathNameA(given.c_str(), sizeof full, full, nullptr);
  return internal::AddReportFile(length != 0 && length < sizeof full ? std::string_view(full, length) : path);
}

}  // namespace crashlog
