#include "crashlog/flow/install.h"

#include <windows.h>

#include "crashlog/flow/flow_state.h"
#include "crashlog/capture/freeze.h"
#include "crashlog/capture/log_file_pending.h"
#include "crashlog/flow/framework_hooks.h"
#include "crashlog/capture/thread_stack.h"
#include "crashlog/capture/threads.h"
#include "crashlog/capture/threads_hooks.h"
#include "crashlog/flow/pipeline.h"
#include "crashlog/capture/exception_handled.h"
#include "crashlog/capture/intercept.h"
#include "crashlog/capture/termination.h"
#include "base/exceptions.h"
#include "runtime/application.h"
#include "runtime/safecall.h"
#include "runtime/scoped_handle.h"
#include "runtime/thread.h"
#include "crashlog/delivery/mail_client.h"
#include "crashlog/infra/debuginfo/modules.h"
#include "crashlog/infra/diagnostics/diagnostics.h"
#include "crashlog/infra/diagnostics/process.h"
#include "crashlog/infra/diagnostics/trace.h"
#include "crashlog/infra/hooks/hook.h"
#include "crashlog/infra/options/options.h"
#include "crashlog/infra/options/option_texts.h"
#include "crashlog/infra/options/options_channel.h"
#include "crashlog/machine/machine.h"

namespace pelloran::crashlog {

namespace {

// A real handle of the main thread, for the freeze watcher to stop and read it.
ScopedKernelHandle mainThread;

// The watcher reports a freeze as an EFrozenApplication raised where the main thread stood, from
// the copy of its stack taken then.
void ReportFreeze(const EFrozenApplication& error, const TFrozenThreadSnapshot& snapshot) {
  const auto faultAddress = reinterpret_cast<const void*>(static_cast<std::uintptr_t>(snapshot.Context.Eip));
  const TRaisedException raised = TRaisedException::Of(TExceptionObject::Of(error), faultAddress, false);
  ExceptNotify(raised, snapshot.StackEnd, snapshot.StackStart, &snapshot.Context, snapshot.StackOrigin);
}

void StartFreezeDetection() {
  HANDLE handle = nullptr;
  ::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentThread(), ::GetCurrentProcess(), &handle, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
  mainThread.reset(handle);
  TFreezeWatcherSetup setup;
  setup.MainThread = mainThread.get();
  setup.MainStackBase = Flow().MainStackBase;
  setup.ClaimBusy = [] { return ClaimBusy(); };
  setup.ReleaseBusy = [] { ReleaseBusy(); };
  setup.Notify = &ReportFreeze;
  InstallFreezeWatcher(std::move(setup));
  StartFreezeWatcher();
}

// The safecall error procedure, installed from the application's start-up slot: after the slot's
// previous procedure, which may install the application's own.
TInitProc previousInitProc = nullptr;
bool initProcTaken = false;
TSafeCallErrorProc previousSafeCallError = nullptr;
bool safeCallHooked = false;

// A failed safecall result whose exception was reported in the method (IsExceptionHandled set the
// flag) ends silently here: the caller's check would raise it again as a new error.
void HookedSafeCallError(HRESULT result, const void* callerAddress) {
  TraceEnter("HookedSafeCallError", {static_cast<int>(result), callerAddress});
  if (TakeSafecallFlag()) {
    TraceLeave("HookedSafeCallError", {true});
    throw EAbort("Operation aborted");
  }
  if (previousSafeCallError != nullptr) previousSafeCallError(result, callerAddress);
  TraceLeave("HookedSafeCallError", {false});
}

void ReporterInitProc() {
  if (previousInitProc != nullptr) previousInitProc();
  if (!Flow().Installed || safeCallHooked) return;
  previousSafeCallError = SetSafeCallErrorProc(&HookedSafeCallError);
  safeCallHooked = true;
}

// The C runtime's ends that no exception announces, in the program's own import slots: abort(),
// raise(SIGABRT) and a failed assert are reported where the program called them, without the
// runtime's boxes.
void HookRuntimeEnds() {
  const std::uintptr_t module = TCrashModulesList::RunningModuleHandle();
  HookImport(module, RuntimeAbort(), reinterpret_cast<void*>(&ReportedAbort), false, true, "msvcrt.dll.abort");
  HookImport(module, RuntimeRaise(), reinterpret_cast<void*>(&ReportedRaise), false, true, "msvcrt.dll.raise");
  HookImport(module, RuntimeAssert(), reinterpret_cast<void*>(&ReportedAssert), false, true, "msvcrt.dll._assert");
  HookImport(module, RuntimeWideAssert(), reinterpret_cast<void*>(&ReportedWideAssert), false, true,
             "msvcrt.dll._wassert");
}

void TakeInitProc() {
  previousInitProc = SetInitProc(&ReporterInitProc);
  initProcTaken = true;
}

void RestoreSafeCallError() {
  if (safeCallHooked) SetSafeCallErrorProc(previousSafeCallError);
  safeCallHooked = false;
  if (initProcTaken) SetInitProc(previousInitProc);
  initProcTaken = false;
}

}  // namespace

bool InstallReporter() {
  TReportFlowState& flow = Flow();
  if (flow.Installed) return true;
  TraceEnter("InstallReporter");
  flow.Installed = true;
  CreateExceptChannel();
  OpenModuleChannel();
  OpenSafecallFlag();
  RecordStartDirectory();
  RecordRestartTime();
  SetBugMailSender(&SendBugMail);

  TCrashModulesList& modules = CreateCrashModules();
  TCrashModuleInfo* running = modules.RunningModule();
  if (running == nullptr || !running->DebugData) {
    DestroyCrashModules();
    flow.Installed = false;
    TraceLeave("InstallReporter", {false});
    return false;
  }
  // Every module of the process now, so that the first report does not pay for it.
  modules.RegisterModulesNow();
  if (running->Options) SetWindowTexts(WindowTextsOf(running->Options->Values()));
  // A reporter in a library whose host program is reporter-enabled itself leaves every exception
  // to the host's reporter.
  const auto host = reinterpret_cast<std::uintptr_t>(::GetModuleHandleA(nullptr));
  SetHandledByHost(running->Handle != host && (IsCrashLogModule(host) || IsCrashLogModule_Old(host)));

  flow.MainStackBase = CurrentStackBase();
  RecordApplicationStartTime();
  flow.Reset();
  InstallInterception();
  // The runtime's frames that catch on the program's behalf.
  RegisterHandlerMarker(THandlerRole::EventHandler, reinterpret_cast<const void*>(&DispatchEventHandler));
  RegisterHandlerMarker(THandlerRole::SafeCall, reinterpret_cast<const void*>(&SafeCallInvoke));
  RegisterSafeCallCheck(reinterpret_cast<const void*>(&CheckSafeCallResult));
  RegisterHandlerMarker(THandlerRole::ThreadWrapper, reinterpret_cast<const void*>(RuntimeThreadWrapper()));
  RegisterHandlerMarker(THandlerRole::ThreadWrapper, reinterpret_cast<const void*>(&HookedThreadProc));
  RegisterHandlerMarker(THandlerRole::Synchronize, SynchronizeCatchAllProcedure());
  SetRaiseNotify(&OnRaise);
  SetLastChanceNotify(&OnLastChance);
  SetReporterInstalled(true);
  TakeInitProc();
  InstallThreadHooks();
  HookRuntimeEnds();
  HookFrameworkHandlers();
  StartFreezeDetection();
  // Reports that an earlier run could not write to the log.
  if (const TCrashModuleOptionsEx* own = FindCurrentCrashLogOptions(); own != nullptr && own->SaveLog())
    MovePendingReportsToLog(own->OutputLogFile(), own->MaxLoggedErrors());
  TraceLeave("InstallReporter", {true});
  return true;
}

void UninstallReporter() {
  TReportFlowState& flow = Flow();
  if (!flow.Installed) return;
  TraceEnter("UninstallReporter");
  UninstallFreezeWatcher();
  mainThread.reset();
  SetRaiseNotify(nullptr);
  SetLastChanceNotify(nullptr);
  UninstallInterception();
  SetHandledByHost(false);
  RestoreSafeCallError();
  UninstallThreadHooks();
  SetReporterInstalled(false);
  UnhookAll();
  ForgetFrameworkHooks();
  CloseExceptChannel();
  CloseModuleChannel();
  CloseSafecallFlag();
  DestroyCrashModules();
  flow.Installed = false;
  TraceLeave("UninstallReporter");
  SaveTrace();
}

}  // namespace pelloran::crashlog
