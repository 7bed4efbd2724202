#pragma once
// CrashLog's interface for a program that carries it: install the reporter first thing in the
// program, remove it at the end, and optionally follow or veto the steps of each report.
// Everything else (options, texts, where the log goes) comes from the program's ELDATA resource,
// written by crashlog_add_eldata() at build time.

#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <string_view>

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

// Reports an exception the program caught itself, from inside its catch block: a full report
// (the call stack of the original raise, when the reporter saw it), logged and sent as the options
// say, and shown unless `showDialog` is false or the options show no dialog. The program goes on
// afterwards: such a report never ends or restarts it, shows no terminate button and does not
// count toward TerminateAfterErrors. Runs on the calling thread (the main thread waits for a worker,
// as for any error). False when the reporter did not take it: not installed, another report in
// progress on this thread, or the Notify handler handed it back.
bool Report(const std::exception& error, bool showDialog = true);
// The same for the exception being handled (any type, not only std::exception); false outside a
// catch block.
bool ReportCurrentException(bool showDialog = true);

// Named facts added to every later report, in a section of their own ("Tags") after the general
// section, in the order first set; the log, the mail and crashlog-report keep them. Setting a name
// again replaces its value. Thread-safe. At most 64 tags; names and values are cut to 256 bytes
// (ANSI code page), control characters become spaces. False when the name is empty or 64 others
// are set.
bool SetTag(std::string_view name, std::string_view value);
void RemoveTag(std::string_view name);

// A file attached to the mail of every later report and named in its "Files" section (for example
// the program's own log). Thread-safe; at most 8 files. False when the path is empty or 8 others
// are named.
bool AddFile(std::string_view path);

}  // namespace crashlog
