#include "crashlog/flow/pipeline.h"

#include <windows.h>

#include <cstring>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

#include "base/ansi_path.h"
#include "crashlog/flow/exception_thread.h"
#include "crashlog/capture/call_stack.h"
#include "crashlog/capture/clipboard.h"
#include "crashlog/flow/flow_state.h"
#include "crashlog/flow/framework_hooks.h"
#include "crashlog/capture/freeze.h"
#include "crashlog/capture/thread_stack.h"
#include "crashlog/capture/exception_handled.h"
#include "crashlog/capture/intercept.h"
#include "crashlog/capture/report_gather.h"
#include "crashlog/capture/report_text.h"
#include "crashlog/flow/error_dialog_flow.h"
#include "crashlog/delivery/screenshot.h"
#include "crashlog/delivery/send_report.h"
#include "crashlog/infra/debuginfo/modules.h"
#include "crashlog/infra/diagnostics/diagnostics.h"
#include "crashlog/infra/diagnostics/error_code.h"
#include "crashlog/infra/diagnostics/process.h"
#include "crashlog/infra/diagnostics/trace.h"
#include "crashlog/infra/options/options.h"
#include "crashlog/infra/web/intraweb.h"
#include "crashlog/infra/web/web.h"
#include "crashlog/infra/web/web_page.h"
#include "runtime/thread.h"

namespace pelloran::crashlog {

namespace {

// Keeps the thread's last-error value across the notification: the raising code may read it.
class TLastErrorKeeper {
 public:
  TLastErrorKeeper() noexcept : saved_(::GetLastError()) {}
  ~TLastErrorKeeper() { ::SetLastError(saved_); }

 private:
  DWORD saved_;
};

std::string TrimUpper(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t\r\n");
  return AsciiUpper(text.substr(first, last - first + 1));
}

// The first FilterClasses entry naming the object's class or an ancestor; -1 for none.
int FilterIndex(const TCrashModuleOptions& options, const TRaisedException& object) {
  std::vector<std::string> chain = object.Info.ClassChain;
  if (const Exception* e = object.Raw.AsException()) {
    chain.clear();
    for (const TClassInfo* c = &e->ClassInfo(); c != nullptr; c = c->Parent) chain.emplace_back(c->Name);
  } else if (chain.empty() && object.Info.HasObject) {
    chain.push_back(object.Info.ClassName);
  }
  const TCrashStringList& classes = options.FilterClasses();
  for (int i = 0; i < classes.Count(); ++i) {
    const std::string wanted = TrimUpper(classes[i]);
    if (wanted.empty()) continue;
    for (const std::string& name : chain)
      if (TrimUpper(name) == wanted) return i;
  }
  return -1;
}

// Which module's options describe this exception: the module that holds the address when it
// carries debug information, else the running module, else the main program's.
TCrashModuleInfo* OptionSource(TCrashModulesList& modules, std::uintptr_t address) {
  TCrashModuleInfo* holder = address != 0 ? modules.FindModuleOfAddress(address) : nullptr;
  if (holder != nullptr && holder->DebugData) return holder;
  TCrashModuleInfo* running = modules.RunningModule();
  if (running != nullptr && running->DebugData) return running;
  TCrashModuleInfo* main = modules.FindModule(reinterpret_cast<std::uintptr_t>(::GetModuleHandleA(nullptr)));
  return main != nullptr && main->DebugData ? main : running;
}

// The peer channel of the module that holds the address: another reporter-enabled module may have
// published the right class name and message of an exception it raised.
void ReadPeerChannel(TCrashModulesList& modules, TReportCapture& capture, bool reportBuilt) {
  const std::uintptr_t address = capture.Exception.Address;
  TCrashModuleInfo* holder = address != 0 ? modules.FindModuleOfAddress(address) : nullptr;
  if (holder == nullptr) return;
  std::optional<TPublishedException> published = TakePublishedException(reinterpret_cast<HMODULE>(holder->Handle));
  if (!published) return;
  capture.Exception.TypeOverride = published->ClassName;
  capture.Exception.MessageOverride = published->Message;
  if (reportBuilt) {
    const TCrashOptionValues& options = WorkingOptions().Values();
    Report().RebuildReport(options, GatherGeneralInputs(capture, options.ReportFields));
  }
}

// A raise from the point where a thread raises again the exception of a method that the main
// thread ran for it (Synchronize): that exception was reported in the main thread, where it arose.
bool IsSynchronizeReRaise(const void* address, bool isLanguageRaise) {
  static const TCodeRange reRaise = ProcedureRangeOf(SynchronizeReRaiseProcedure());
  return isLanguageRaise && reRaise.Contains(reinterpret_cast<std::uintptr_t>(address) - 1);
}

bool IsLibraryModule() {
  return reinterpret_cast<HMODULE>(TCrashModulesList::RunningModuleHandle()) != ::GetModuleHandleA(nullptr);
}

bool WriteToConsole(const std::string& text) {
  HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
  if (out == nullptr || out == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  return ::WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
         written == text.size();
}

TCrashExceptionRecord currentRecord;
bool recordSet = false;

// Event handlers run under the exception's thread; afterwards the exception is published on
// this module's channel again (a handler may have raised and caught others in between).
void RunHandler(const std::function<void()>& call) {
  RunOnExceptionThread(currentRecord.ThreadID, call);
  if (currentRecord.ExceptionObject != nullptr)
    PublishException(currentRecord.ExceptionObject->Info, reinterpret_cast<const void*>(currentRecord.ExceptionAddress),
                     LastRaisedException().Flag);
}

}  // namespace

TReportState& Report() {
  static TReportState report;
  return report;
}

TReportEvents ReportEvents() {
  TReportEvents events;
  if (CrashLogHandlers().Action)
    events.ActionHandler = [](TCrashAction action, bool& execute) { execute = RunActionHandler(action, execute); };
  if (CrashLogHandlers().ActionFailed)
    events.ActionFailedHandler = [](TCrashAction action, bool& retry) { retry = RunActionFailedHandler(action); };
  return events;
}

TCrashLogHandlers& CrashLogHandlers() {
  static TCrashLogHandlers handlers;
  return handlers;
}

const TCrashExceptionRecord* CurrentRecord() { return recordSet ? &currentRecord : nullptr; }

bool RunActionHandler(TCrashAction action, bool execute) {
  if (!CrashLogHandlers().Action) return execute;
  RunHandler([&] { CrashLogHandlers().Action(currentRecord, action, execute); });
  return execute;
}

bool RunActionFailedHandler(TCrashAction action) {
  bool retry = false;
  if (!CrashLogHandlers().ActionFailed) return retry;
  RunHandler([&] { CrashLogHandlers().ActionFailed(currentRecord, action, retry); });
  return retry;
}

TCrashModuleOptions& WorkingOptions() {
  static TCrashModuleOptions working{"", false};
  return working;
}

std::string ShortMessageOf(const TExceptionObjectInfo& info, const std::string& messageOverride) {
  std::string message = !messageOverride.empty() ? messageOverride
                        : info.IsException && !info.Message.empty() ? info.Message
                                                                     : std::string(kUnknownErrorMessage);
  if (message.back() != '.') message += '.';
  return message;
}

namespace {

// Notifies with the stack as it stood at the object's original raise, when the layer kept it:
// the handlers' frames (and the reporter's own) have overwritten it since.
bool NotifyWithKeptStack(const TRaisedException& object, const void* address, bool isLanguageRaise) {
  TRaiseStack kept;
  if (!KeptRaiseStack(object.Raw, kept)) return ExceptNotify(object, address, isLanguageRaise, 0, 0, nullptr);
  const auto start = reinterpret_cast<std::uintptr_t>(kept.Bytes.data());
  return ExceptNotify(object, kept.Address, kept.IsLanguageRaise, start + kept.Bytes.size(), start, &kept.Context,
                      kept.Origin);
}

TRaisedException Raised(const TExceptionObject& object) {
  TRaisedException raised;
  raised.Info = object.Describe();
  raised.Raw = object;
  return raised;
}

}  // namespace

void OnRaise(const TExceptionObject& object, const void* address, bool isLanguageRaise) noexcept {
  try {
    GoNotify(Raised(object), address, isLanguageRaise);
  } catch (...) {
    HandleInternalError("GoNotify.");
  }
}

void OnLastChance(const TExceptionObject& object, const void* address, bool isLanguageRaise,
                  bool reportedAtRaise) noexcept {
  TraceEnter("HookedExceptProc", {address, reportedAtRaise});
  try {
    if (!reportedAtRaise && Flow().Installed && (object.Empty() || !object.IsAbort())) {
      TRaisedException raised = Raised(object);
      PublishException(raised.Info, address, isLanguageRaise);
      TBusyClaim claim;
      if (claim.Held()) NotifyWithKeptStack(raised, address, isLanguageRaise);
    }
  } catch (...) {
    HandleInternalError("HookedExceptProc.");
  }
  TraceLeave("HookedExceptProc");
}

void GoNotify(const TRaisedException& object, const void* address, bool isLanguageRaise) noexcept {
  TLastErrorKeeper keepLastError;
  TraceEnter("GoNotify", {address, isLanguageRaise});
  PublishException(object.Info, address, isLanguageRaise);
  if (!object.Info.IsAbort && Flow().Installed && !IsSynchronizeReRaise(address, isLanguageRaise)) {
    TBusyClaim claim;
    if (claim.Held()) {
      if (!IsExceptionHandled(object.Raw, address)) NotifyWithKeptStack(object, address, isLanguageRaise);
    }
  }
  TraceLeave("GoNotify");
}

bool ExceptionManager() noexcept {
  TraceEnter("ExceptionManager");
  bool result = true;
  try {
    const TExceptionObject current = TExceptionObject::Current();
    if (!current.Empty() && !current.IsAbort()) {
      result = false;
      TBusyClaim claim;
      if (claim.Held()) {
        TRaisedException object = Raised(current);
        object.Object = std::current_exception();
        TRaiseStack kept;
        if (WasReportedAtRaise(current)) {
          // Reported where it arose (the catch of Synchronize, then raised again in the thread
          // that waited): not again, and the hooked handler does not run either.
          result = false;
        } else if (KeptRaiseStack(current, kept)) {
          // The stack as it stood at the original raise, whatever caught it first.
          const auto start = reinterpret_cast<std::uintptr_t>(kept.Bytes.data());
          result = ExceptNotify(object, kept.Address, kept.IsLanguageRaise, start + kept.Bytes.size(), start,
                                &kept.Context, kept.Origin);
        } else {
          const TRaiseRecord raise = RaiseOfCurrentException();
          const bool isLanguageRaise =
              raise.Object.Empty() ? !current.InheritsFrom("EExternal") : raise.IsLanguageRaise;
          if (raise.Object.Empty()) {
            // Nothing was captured at the raise: the framework handler's own frame.
            CurrentThreadCapture().StackStart = static_cast<const std::uint8_t*>(__builtin_frame_address(0)) + 4;
            CurrentThreadCapture().Context.ContextFlags = 0;
          }
          result = ExceptNotify(object, raise.Address, isLanguageRaise, 0, 0, nullptr);
        }
      }
    }
  } catch (...) {
    HandleInternalError("ExceptionManager.");
  }
  TraceLeave("ExceptionManager", {result});
  return result;
}

bool ExceptNotify(const TRaisedException& object, const void* address, bool isLanguageRaise,
                  std::uintptr_t stackEnd, std::uintptr_t stackStart, const CONTEXT* context,
                  std::uintptr_t stackOrigin) noexcept {
  TraceEnter("ExceptNotify", {address, isLanguageRaise});
  bool result = true;
  TThreadCapture& capture = CurrentThreadCapture();
  try {
    TCrashModuleOptionsEx* own = FindCurrentCrashLogOptions();
    if (own != nullptr && own->Active()) {
      TExceptNotifyParams params;
      // On the helper that reports a stack overflow, the capture is the overflowing thread's.
      params.ThreadID = capture.ThreadId != 0 ? capture.ThreadId : ::GetCurrentThreadId();
      params.Context = context != nullptr ? context : capture.Context.ContextFlags != 0 ? &capture.Context : nullptr;
      params.StackEnd = stackEnd != 0 ? stackEnd
                        : capture.StackBase != nullptr ? reinterpret_cast<std::uintptr_t>(capture.StackBase)
                                                       : CurrentStackBase();
      params.StackStart = stackStart != 0 ? stackStart : reinterpret_cast<std::uintptr_t>(capture.StackStart);
      params.StackOrigin = stackStart != 0 ? stackOrigin : 0;
      CaptureFocusControl(params.ControlClass, params.ControlText);
      const bool useWorker = !IsIDEHost() && ::GetCurrentThreadId() == MainThreadId() &&
                             (!IsLibraryModule() || (!UnitsInitializing() && !UnitsFinalizing()));
      if (useWorker)
        result = RunOnExceptionThreadWorker(
            [&] { return InternalExceptNotify(object, address, isLanguageRaise, params); });
      else
        result = InternalExceptNotify(object, address, isLanguageRaise, params);
    }
  } catch (...) {
    HandleInternalError("ExceptNotify.");
  }
  ClearLastRaisedException();
  capture.StackStart = nullptr;
  capture.Context.ContextFlags = 0;
  TraceLeave("ExceptNotify", {result});
  return result;
}

bool InternalExceptNotify(const TRaisedException& object, const void* rawAddress, bool isLanguageRaise,
                          TExceptNotifyParams params) noexcept {
  TraceEnter("InternalExceptNotify", {rawAddress, isLanguageRaise});
  TReportFlowState& flow = Flow();
  bool result = false;
  int progress = 1;
  TCrashStackList callStack;
  std::string screenshotFile;
  try {
    TReportState& report = Report();
    report.ReproduceText.clear();
    TReportCapture capture;
    capture.CaptureTime = LocalTimeNow();
    std::uintptr_t address = reinterpret_cast<std::uintptr_t>(rawAddress);
    if (IsSynchronizeReRaise(rawAddress, isLanguageRaise)) {
      TraceLeave("InternalExceptNotify", {false});
      return false;
    }
    if (isLanguageRaise && address != 0) address -= 5;
    capture.Exception.Object = object.Info;
    capture.Exception.Address = address;
    TCrashModulesList* modules = CrashModules();
    if (modules == nullptr) return false;
    ReadPeerChannel(*modules, capture, false);
    TCrashModuleInfo* source = OptionSource(*modules, address);
    TCrashModuleOptions& options = WorkingOptions();
    if (source != nullptr && source->Options) options.Assign(source->Options.get());
    if (IsIDEHost()) options.SetCustomDialogLook(false);
    if (source != nullptr) options.SetModuleName(source->FileName);
    flow.SendRequested = options.SendMode() != 0;
    flow.ScreenshotRequested = options.AttachScreenshot();
    flow.CopyRequested = false;
    flow.TerminateRequested = false;

    progress = 2;
    if (options.FilterActive()) {
      const int index = FilterIndex(options, object);
      if (index >= 0) {
        const std::string message = index < options.FilterMessages().Count() ? options.FilterMessages()[index] : "";
        if (!message.empty())
          ::MessageBoxA(nullptr, message.c_str(), options.GetText(0).c_str(), 0x242040);
        TraceLeave("InternalExceptNotify", {false});
        return false;
      }
    }

    progress = 3;
    if (params.StackEnd == 0) params.StackEnd = CurrentStackBase();

    progress = 4;  // steps 4 to 6: the call stack with the creator's stack, top duplicate removed
    // StackEnd is the stack base, one past the last slot.
    callStack = BuildCallStack(*modules, address, isLanguageRaise, params.StackStart, params.StackEnd - 4, params.ThreadID);

    progress = 7;
    flow.Handled = true;
    modules->RefreshModules();
    capture.ControlClass = params.ControlClass;
    capture.ControlText = params.ControlText;
    capture.StackStart = params.StackStart;
    capture.StackOrigin = params.StackOrigin;
    capture.Context = params.Context;
    currentRecord = {&object, address, params.ThreadID, {}, modules, &callStack, &options};
    recordSet = true;
    currentRecord.LogText =
        report.BuildReport(options.Values(), GatherReportInputs(capture, options.Values(), callStack, *modules));
    flow.Duplicate = report.IsDuplicateError(options);
    ClearLastError();
    if (CrashLogHandlers().Notify) {
      bool handled = true;
      RunHandler([&] { CrashLogHandlers().Notify(currentRecord, handled); });
      flow.Handled = handled;
      ReadPeerChannel(*modules, capture, true);
    }

    progress = 8;
    if (!flow.Handled) {
      result = true;
    } else {
      progress = 9;
      ++flow.ErrorCount;
      progress = 10;
      flow.ShortMessage = ShortMessageOf(object.Info, capture.Exception.MessageOverride);
      // Taken before anything is shown, so that it shows the program as it was; removed when
      // the report is done with it.
      if (options.AttachScreenshot()) {
        screenshotFile = ScreenshotPath(true);
        try {
          CaptureScreenshotPng(screenshotFile);
        } catch (...) {
          screenshotFile.clear();
        }
      }

      progress = 11;
      if (options.ShowDialog()) {
        progress = 12;
        ClearLastError();
        flow.Execute = RunActionHandler(TCrashAction::BeforeShow, true);
        progress = 13;
        if (flow.Execute) {
          const std::string pageText = PageIntro(options.Values()) + report.ReportText;
          if (IntraWebHookInstalled()) {
            RunHandler([&] { flow.Execute = ShowIntraWebError(pageText, options.GetText(2)); });
          } else if (IsWebApplication()) {
            flow.Execute = WriteWebError(ErrorPage(options.GetText(2), pageText), params.ThreadID);
          } else if (IsConsoleProgram()) {
            flow.Execute = WriteToConsole(pageText + "\r\n");
            if (!flow.Execute) ReportSectionError(eeShowError, "Console");
          } else {
            flow.Execute = ShowErrorDialog();
            // A dialog that failed says why itself ("Cannot show the DialogBox window."); the
            // section's general text would only replace that with less.
            if (!flow.Execute && LastErrorCode() == eeNone) ReportSectionError(eeShowError, "GUI");
          }
          if (flow.Execute) flow.Execute = RunActionHandler(TCrashAction::AfterShow, flow.Execute);
        }
      }
      progress = 14;
      if ((options.ReportOptions() & kAskReproduceSteps) != 0 && IsGUIApplication() && !flow.Duplicate &&
          (options.SendMode() != 0 || options.SaveLog()))
        ShowReproduceDialog();

      progress = 15;
      // Only when a restart was asked for and will be refused (TerminateProcessNow does not
      // restart a program that failed again within a minute of its restart).
      if (flow.TerminateRequested && options.TerminateAction() == 1 && RestartedRecently()) {
        report.ReportText += "\r\nRestart: the program failed again within a minute of its restart; it is not restarted.";
        report.SendText = report.ReportText;
        currentRecord.LogText = report.ReportText;
      }
      if (options.SaveLog()) report.SaveToLogFile(options, ReportEvents());
      if (flow.CopyRequested) CopyTextToClipboard(report.ReportText);

      progress = 16;
      if (options.SendMode() != 0 && !flow.Duplicate && flow.SendRequested) {
        TReportDelivery delivery;
        delivery.Options = &options;
        delivery.SendText = report.SendText;
        delivery.ReportText = report.ReportText;
        delivery.ReproduceText = report.ReproduceText;
        delivery.ScreenshotRequested = flow.ScreenshotRequested && !screenshotFile.empty();
        delivery.ScreenshotPath = screenshotFile;
        delivery.GuiApplication = IsGUIApplication();
        if (CrashLogHandlers().Action) {
          delivery.BeforeSend = [](bool execute) { return RunActionHandler(TCrashAction::BeforeSend, execute); };
          delivery.AfterSend = [](bool execute) { return RunActionHandler(TCrashAction::AfterSend, execute); };
        }
        if (CrashLogHandlers().ActionFailed)
          delivery.SendFailed = [] { return RunActionFailedHandler(TCrashAction::AfterSend); };
        flow.Execute = SendErrorReport(delivery);  // its outcome, as the AfterSend handler saw it
      }
    }

    if (!screenshotFile.empty()) ::DeleteFileA(screenshotFile.c_str());
    progress = 17;
    recordSet = false;
    callStack.clear();
    progress = 18;
    if (flow.TerminateRequested) {
      progress = 19;
      TerminateProcessNow(options.TerminateAction() == 1);
    }
  } catch (...) {
    recordSet = false;
    if (!screenshotFile.empty()) ::DeleteFileA(screenshotFile.c_str());
    HandleInternalError("InternalExceptNotify." + std::to_string(progress));
  }
  TraceLeave("InternalExceptNotify", {result});
  return result;
}

bool CopyTextToClipboard(const std::string& text) {
  return CopyReportToClipboard(text, FindMainWindow(::GetCurrentProcessId()));
}

}  // namespace pelloran::crashlog
