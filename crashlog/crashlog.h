#pragma once
// CrashLog's interface for a program that carries it: install the reporter first thing in the
// program, remove it at the end, and optionally follow or veto the steps of each report.
// Everything else (options, texts, where the log goes) comes from the program's ELDATA resource,
// written by crashlog_add_eldata() at build time.

#include <cstdint>
#include <functional>
#include <string>

namespace crashlog {

// True when the reporter became active: the program carries its debug information (ELDATA).
// Without it the reporter stays inactive and passes every error on. Safe to call more than once.
bool InstallReporter();
void UninstallReporter();

// The steps of one report, in the order they run.
enum class Action : int {
  BeforeShow = 0,
  AfterShow = 1,
  BeforeLog = 2,
  AfterLog = 3,
  BeforeSend = 4,
  AfterSend = 5,
  Terminate = 6,
};

// The error being reported, as the handlers see it.
struct ErrorReport {
  std::string ClassName;  // the exception's class, empty when there is no object
  std::string Message;
  std::uintptr_t Address = 0;  // where it was raised
  std::uint32_t ThreadId = 0;
  std::string Text;  // the report as it goes into the log
};

// Each handler runs on the thread of the error; an exception thrown by one is ignored. An empty
// function removes the handler. Set them before or after InstallReporter, not during a report.
//
// Before the report: clearing `handled` leaves the error to the program.
void SetNotifyHandler(std::function<void(const ErrorReport&, bool& handled)> handler);
// Before and after each step; clearing `execute` in a Before... call skips that step.
void SetActionHandler(std::function<void(const ErrorReport&, Action, bool& execute)> handler);
// After a step that failed; setting `retry` runs it again.
void SetActionFailedHandler(std::function<void(const ErrorReport&, Action, bool& retry)> handler);

}  // namespace crashlog
