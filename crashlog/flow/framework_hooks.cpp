#include "crashlog/flow/framework_hooks.h"

#include <windows.h>

#include <cstdio>
#include <string_view>

#include "crashlog/flow/pipeline.h"
#include "crashlog/infra/diagnostics/trace.h"
#include "crashlog/infra/hooks/hook.h"
#include "crashlog/infra/debuginfo/modules.h"
#include "crashlog/infra/web/intraweb.h"
#include "crashlog/infra/web/web.h"

namespace pelloran::crashlog {

namespace {

// The frameworks' handlers are methods: the object travels in ECX, the arguments on the stack, and
// the method pops them, so each replacement has the exact signature of what it replaces.
using THandleException = void(__attribute__((thiscall)) *)(void* self, void* sender);
using TDoException = bool(__attribute__((thiscall)) *)(void* self, void* application, void* error);
using TLogMessage = void(__attribute__((thiscall)) *)(void* self, const char* message, int type, int category, int id);

THandleException guiHandler = nullptr;
THandleException cgiHandler = nullptr;
THandleException isapiHandler = nullptr;
THandleException indyHandler = nullptr;
TDoException intraWebHandler = nullptr;
TLogMessage serviceLogMessage = nullptr;

// Runs `body`; a failure inside puts the hooked procedure's code back before it travels on.
template <typename Trampoline, typename Body>
auto Guarded(Trampoline trampoline, Body body) {
  try {
    return body();
  } catch (...) {
    RestoreHook(reinterpret_cast<void*>(trampoline));
    throw;
  }
}

// The four frameworks' HandleException replacements differ only in the name they trace under and
// the trampoline they call on.
template <const char* Name, THandleException* Trampoline>
__attribute__((thiscall)) void HookedHandleException(void* self, void* sender) {
  TraceEnter(Name);
  Guarded(*Trampoline, [&] {
    if (ExceptionManager()) (*Trampoline)(self, sender);
  });
  TraceLeave(Name);
}

constexpr char kGuiHookName[] = "Hooked_GUIHandleException";
constexpr char kCgiHookName[] = "Hooked_CGIHandleServerException";
constexpr char kIsapiHookName[] = "Hooked_ISAPIHandleServerException";
constexpr char kIndyHookName[] = "Hooked_IndyThreadHandleException";

__attribute__((thiscall)) bool Hooked_IntraWebHandleException(void* self, void* application, void* error) {
  TraceEnter("Hooked_IntraWebHandleException");
  const bool notCalled = Guarded(intraWebHandler, [&] {
    // The server controller and the session's application, for the page the report shows.
    TIntraWebObjectsScope scope({static_cast<TIWPublishedObject*>(self), application});
    if (!ExceptionManager()) return true;
    intraWebHandler(self, application, error);
    return false;
  });
  TraceLeave("Hooked_IntraWebHandleException", {notCalled});
  return notCalled;
}

__attribute__((thiscall)) void Hooked_NTServiceLogMessage(void* self, const char* message, int type, int category,
                                                         int id) {
  TraceEnter("Hooked_NTServiceLogMessage");
  Guarded(serviceLogMessage, [&] {
    // A message that reports no exception is logged as always.
    if (!DescribeCurrentException().HasObject || ExceptionManager()) serviceLogMessage(self, message, type, category, id);
  });
  TraceLeave("Hooked_NTServiceLogMessage");
}

using THttpExtensionProc = DWORD(WINAPI*)(EXTENSION_CONTROL_BLOCK* block);
THttpExtensionProc httpExtensionProc = nullptr;

// The extension's entry point: the request's control block is kept for the error page while
// the request runs on this thread.
DWORD WINAPI HookedHttpExtensionProc(EXTENSION_CONTROL_BLOCK* block) {
  TraceEnter("HookedHttpExtensionProc");
  TServerECBScope scope(block);
  const DWORD result = httpExtensionProc(block);
  TraceLeave("HookedHttpExtensionProc", {static_cast<unsigned>(result)});
  return result;
}

void InstallHttpExtensionProc(std::vector<std::string>& installed) {
  if (httpExtensionProc != nullptr) return;
  auto running = reinterpret_cast<HMODULE>(TCrashModulesList::RunningModuleHandle());
  void* entry = reinterpret_cast<void*>(::GetProcAddress(running, "HttpExtensionProc"));
  if (entry == nullptr) return;
  httpExtensionProc = reinterpret_cast<THttpExtensionProc>(
      HookCode(entry, reinterpret_cast<void*>(&HookedHttpExtensionProc), "HttpExtensionProc"));
  installed.emplace_back("HttpExtensionProc");
}

template <typename T>
bool Install(T& trampoline, std::string_view name, std::string_view package, std::string_view exportName,
             void* replacement, std::vector<std::string>& installed) {
  if (trampoline != nullptr) return true;
  void* result = HookByNameOrExport(name, package, exportName, replacement);
  if (result == nullptr) return false;
  trampoline = reinterpret_cast<T>(result);
  installed.emplace_back(name);
  return true;
}

// The web framework's package is called "Intraweb_<n>_70.bpl" for some n from 10 to 98.
bool InstallIntraWeb(std::vector<std::string>& installed) {
  constexpr std::string_view name = "IWServerControllerBase.TIWServerControllerBase.DoException";
  constexpr std::string_view exportName =
      "@Iwservercontrollerbase@TIWServerControllerBase@DoException$qqrp20Iwapplication@TIWApplicationp18Sysutils@Exception";
  if (Install(intraWebHandler, name, "", "", reinterpret_cast<void*>(&Hooked_IntraWebHandleException), installed)) {
    SetIntraWebHooked(true, reinterpret_cast<void*>(FindProcByName(kIWShowMessageName)));
    return true;
  }
  for (int n = 10; n <= 98; ++n) {
    char package[32];
    std::snprintf(package, sizeof package, "Intraweb_%d_70.bpl", n);
    if (::GetModuleHandleA(package) == nullptr) continue;
    if (Install(intraWebHandler, name, package, exportName, reinterpret_cast<void*>(&Hooked_IntraWebHandleException),
                installed)) {
      SetIntraWebHooked(true, HookByNameOrExport(kIWShowMessageName, package, kIWShowMessageExport, nullptr));
      return true;
    }
  }
  return false;
}

}  // namespace

std::vector<std::string> HookFrameworkHandlers() {
  TraceEnter("HookFrameworkHandlers");
  std::vector<std::string> installed;
  constexpr std::string_view kHandleExceptionExport = "@Forms@TApplication@HandleException$qqrp14System@TObject";
  auto* gui = reinterpret_cast<void*>(&HookedHandleException<kGuiHookName, &guiHandler>);
  // The frameworks the reporter knows by name (in the program or in their packages), else this
  // program's own framework.
  if (!Install(guiHandler, "Forms.TApplication.HandleException", "VCL70.BPL", kHandleExceptionExport, gui, installed) &&
      !Install(guiHandler, "QForms.TApplication.HandleException", "VISUALCLX70.BPL",
               "@Qforms@TApplication@HandleException$qqrp14System@TObject", gui, installed))
    Install(guiHandler, "application.pelloran::TApplication.HandleException", "", "", gui, installed);
  Install(cgiHandler, "CGIApp.TCGIApplication.CGIHandleException", "", "",
          reinterpret_cast<void*>(&HookedHandleException<kCgiHookName, &cgiHandler>), installed);
  Install(isapiHandler, "ISAPIApp.TISAPIApplication.ISAPIHandleException", "", "",
          reinterpret_cast<void*>(&HookedHandleException<kIsapiHookName, &isapiHandler>), installed);
  Install(indyHandler, "IdThread.TIdThread.DoException", "INDY70.BPL",
          "@Idthread@TIdThread@DoException$qqrp18Sysutils@Exception",
          reinterpret_cast<void*>(&HookedHandleException<kIndyHookName, &indyHandler>), installed);
  Install(serviceLogMessage, "SvcMgr.TService.LogMessage", "", "",
          reinterpret_cast<void*>(&Hooked_NTServiceLogMessage), installed);
  InstallIntraWeb(installed);
  InstallHttpExtensionProc(installed);
  TraceLeave("HookFrameworkHandlers", {static_cast<int>(installed.size())});
  return installed;
}

void ForgetFrameworkHooks() {
  guiHandler = cgiHandler = isapiHandler = indyHandler = nullptr;
  intraWebHandler = nullptr;
  serviceLogMessage = nullptr;
  httpExtensionProc = nullptr;
  SetIntraWebHooked(false, nullptr);
}

bool IntraWebHookInstalled() { return intraWebHandler != nullptr; }

}  // namespace pelloran::crashlog
