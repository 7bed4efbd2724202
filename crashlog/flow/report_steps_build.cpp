// The steps that decide whether and how an error is reported, and build its report.

#include <windows.h>

#include <optional>
#include <vector>

#include "base/ansi_path.h"
#include "crashlog/capture/call_stack.h"
#include "crashlog/capture/report_additions.h"
#include "crashlog/capture/report_gather.h"
#include "crashlog/flow/report_dump.h"
#include "crashlog/flow/report_steps.h"
#include "crashlog/infra/debuginfo/modules.h"
#include "crashlog/infra/diagnostics/diagnostics.h"
#include "crashlog/infra/diagnostics/error_code.h"
#include "crashlog/infra/diagnostics/process.h"
#include "crashlog/infra/options/options.h"
#include "crashlog/infra/options/option_texts.h"
#include "crashlog/capture/thread_stack.h"
#include "runtime/thread.h"

namespace pelloran::crashlog {

namespace {

// How a filter class's message is shown: an information box above every window, with no owner
// window to wait for.
constexpr UINT kFilterMessageBoxStyle = MB_OK | MB_ICONINFORMATION | MB_TASKMODAL | MB_TOPMOST | MB_SERVICE_NOTIFICATION;

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
// published the right class name and message of an exception it raised. Only values that say they
// describe this raise (its thread and address) are taken: any thread of the process may have
// raised since.
void ReadPeerChannel(TErrorInProgress& error, bool reportBuilt) {
  const std::uintptr_t address = error.Capture.Exception.Address;
  TCrashModuleInfo* holder = address != 0 ? error.Modules->FindModuleOfAddress(address) : nullptr;
  if (holder == nullptr) return;
  std::optional<TPublishedException> published =
      TakePublishedException(reinterpret_cast<HMODULE>(holder->Handle), error.Params.ThreadID, address);
  if (!published) return;
  error.Capture.Exception.TypeOverride = published->ClassName;
  error.Capture.Exception.MessageOverride = published->Message;
  if (reportBuilt) {
    const TCrashOptionValues& options = error.Options.Values();
    error.Report.RebuildReport(options, GatherGeneralInputs(error.Capture, options.ReportFields));
  }
}

}  // namespace

bool IsSynchronizeReRaise(const void* address, bool isLanguageRaise) {
  static const TCodeRange reRaise = ProcedureRangeOf(SynchronizeReRaiseProcedure());
  return isLanguageRaise && reRaise.Contains(reinterpret_cast<std::uintptr_t>(address) - 1);
}

bool ChooseOptions(TErrorInProgress& error) {
  error.Progress = TReportStage::Options;
  error.Report.ReproduceText.clear();
  error.Capture.CaptureTime = LocalTimeNow();
  if (IsSynchronizeReRaise(error.Object)) return false;
  error.Address = error.Object.RaiseInstruction();
  error.Capture.Exception.Object = error.Object.Info;
  error.Capture.Exception.Address = error.Address;
  error.Modules = CrashModules();
  if (error.Modules == nullptr) return false;
  ReadPeerChannel(error, false);
  TCrashModuleInfo* source = OptionSource(*error.Modules, error.Address);
  TCrashModuleOptions& options = error.Options;
  if (source != nullptr && source->Options) options.Assign(source->Options.get());
  SetWindowTexts(WindowTextsOf(options.Values()));
  if (IsIDEHost()) options.SetCustomDialogLook(false);
  if (source != nullptr) options.SetModuleName(source->FileName);
  if (error.Params.Mode.Handled) {
    // The program goes on after its own report: nothing offers to end it.
    options.SetShowTerminateButton(false);
    if (error.Params.Mode.SkipDialog) options.SetShowDialog(false);
  }
  error.SendRequested = options.SendMode() != 0;
  error.ScreenshotRequested = options.AttachScreenshot();
  error.CopyRequested = false;
  error.TerminateRequested = false;
  return true;
}

bool PassesFilter(TErrorInProgress& error) {
  error.Progress = TReportStage::Filter;
  const TCrashModuleOptions& options = error.Options;
  if (!options.FilterActive()) return true;
  const int index = FilterIndex(options, error.Object);
  if (index < 0) return true;
  const std::string message = index < options.FilterMessages().Count() ? options.FilterMessages()[index] : "";
  if (!message.empty())
    ::MessageBoxA(nullptr, message.c_str(), TextOf(options.Values(), TCrashText::InformationCaption).c_str(), kFilterMessageBoxStyle);
  return false;
}

void BuildReport(TErrorInProgress& error) {
  error.Progress = TReportStage::StackBounds;
  TExceptNotifyParams& params = error.Params;
  if (params.StackEnd == 0) params.StackEnd = CurrentStackBase();

  error.Progress = TReportStage::CallStack;
  // StackEnd is the stack base, one past the last slot.
  error.CallStack = BuildCallStack(*error.Modules, error.Address, error.Object.IsLanguageRaise, params.StackStart,
                                   params.StackEnd - sizeof(void*), params.ThreadID);

  error.Progress = TReportStage::Facts;
  error.Handled = true;
  error.Modules->RefreshModules();
  TReportCapture& capture = error.Capture;
  capture.ControlClass = params.ControlClass;
  capture.ControlText = params.ControlText;
  capture.StackStart = params.StackStart;
  capture.StackOrigin = params.StackOrigin;
  capture.Context = params.Context;
  capture.Added = ReportAdditions();
  WriteReportDump(error);
  error.Record = {&error.Object, error.Address, params.ThreadID, {}, error.Modules, &error.CallStack, &error.Options};
  error.PublishRecord();
  const TCrashOptionValues& options = error.Options.Values();
  error.Record.LogText =
      error.Report.BuildReport(options, GatherReportInputs(capture, options, error.CallStack, *error.Modules));
  error.Duplicate = error.Report.IsDuplicateError(error.Options);
  ClearLastError();
  if (CrashLogHandlers().Notify) {
    error.Handled = RunNotifyHandler(error.Record, true);
    ReadPeerChannel(error, true);
  }
}

std::string ShortMessageOf(const TExceptionObjectInfo& info, const std::string& messageOverride) {
  std::string message = !messageOverride.empty() ? messageOverride
                        : info.HasMessage && !info.Message.empty() ? info.Message
                                                                     : std::string(kUnknownErrorMessage);
  if (message.back() != '.') message += '.';
  return message;
}

}  // namespace pelloran::crashlog
