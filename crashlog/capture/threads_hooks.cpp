#include "crashlog/capture/threads_hooks.h"

#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <cxxabi.h>
#include <process.h>

#include <cstdlib>
#include <typeinfo>

#include "base/ansi_path.h"
#include "crashlog/capture/exception_handled.h"
#include "crashlog/capture/threads.h"
#include "crashlog/infra/web/intraweb.h"
#include "crashlog/infra/debuginfo/modules.h"
#include "crashlog/infra/debuginfo/modules_memory.h"
#include "crashlog/infra/diagnostics/trace.h"
#include "crashlog/infra/hooks/hook.h"

namespace pelloran::crashlog {

namespace {

using TCreateThread = HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID, DWORD, LPDWORD);
using TResumeThread = DWORD(WINAPI*)(HANDLE);
using TExitThread = void(WINAPI*)(DWORD);

// The real procedure, asked of kernel32 on first use: import hooks leave its exports alone, and
// the program's own import slots may already lead to the hooks.
template <typename T>
T Kernel32Procedure(std::atomic<T>& cache, const char* name) {
  T procedure = cache.load();
  if (!procedure) {
    procedure = reinterpret_cast<T>(reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA("kernel32.dll"), name)));
    cache.store(procedure);
  }
  return procedure;
}

std::atomic<TCreateThread> g_createThread{nullptr};
std::atomic<TResumeThread> g_resumeThread{nullptr};
std::atomic<TExitThread> g_exitThread{nullptr};

// What a plain thread runs, handed from HookedCreateThread to HookedThreadProc; the thread
// frees it. Kept apart from the registry record, which may be gone before the thread starts.
struct TPlainThreadStart {
  LPTHREAD_START_ROUTINE StartAddress;
  void* Parameter;
};

// The stack base of the calling thread (NT_TIB.StackBase).
std::uintptr_t CurrentStackBase() noexcept {
  std::uintptr_t base;
  asm volatile("movl %%fs:4, %0" : "=r"(base));
  return base;
}

// The start record of a runtime thread: the wrapper is its entry and the record names one of the
// class's thread procedures. nullptr for anything else.
TThreadStartRecord* RuntimeThreadStart(LPTHREAD_START_ROUTINE startAddress, void* parameter) {
  if (startAddress != RuntimeThreadWrapper()) return nullptr;
  TThreadStartRecord start;
  if (!ReadMemory(reinterpret_cast<std::uintptr_t>(parameter), &start, sizeof start)) return nullptr;
  const auto procedures = RuntimeThreadProcs();
  if (start.ThreadFunc != procedures[0] && start.ThreadFunc != procedures[1]) return nullptr;
  return static_cast<TThreadStartRecord*>(parameter);
}

// Registers the new thread; the registry lock is held by the caller.
void AddRecord(TCrashThreadsList& list, DWORD threadID, HANDLE handle, LPTHREAD_START_ROUTINE startAddress,
               void* parameter, TThread* threadObject) {
  // A record left by an ended thread whose identifier the system has given out again.
  for (int stale; (stale = list.IndexOfID(threadID)) >= 0;) list.Delete(stale);
  TCrashThreadRecord& record = list.Add();
  record.ThreadID = threadID;
  record.Handle = handle;
  record.StartAddress = startAddress;
  record.Parameter = parameter;
  record.ThreadObject = threadObject;
}

// Copies the calling thread's stack from `from` to its base into the record of `thread`.
void KeepCreationStack(HANDLE thread, std::uintptr_t from) {
  const std::uintptr_t base = CurrentStackBase();
  auto& list = CrashThreads();
  TThreadsListLock hold(list);
  // By identifier first: a handle value that its creator closed may by now stand for another
  // thread, while an identifier names only a live thread.
  const DWORD threadID = ::GetThreadId(thread);
  int index = threadID != 0 ? list.IndexOfID(threadID) : -1;
  if (index < 0) index = list.IndexOfHandle(thread);
  if (index < 0) return;
  TCrashThreadRecord& record = list[index];
  record.CreationStack.clear();
  if (base <= from || !IsReadable(from, base - from)) {
    list.Delete(index);
    return;
  }
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(from);
  record.CreationStack.assign(bytes, bytes + (base - from));
}

// Marks the calling thread's record when its thread object is one of the reporter's own.
void NoteThreadObject(TThread* thread) {
  const bool reporterThread = dynamic_cast<TReporterThread*>(thread) != nullptr;
  auto& list = CrashThreads();
  TThreadsListLock hold(list);
  const int index = list.IndexOfID(::GetCurrentThreadId());
  if (index >= 0) list[index].ReporterThread = reporterThread;
}

std::atomic<DWORD> peerThreadID{0};

// The web framework's socket-server peer thread: the first thread object of the class
// TIdPeerThread started while the framework's handler is hooked. Looked at when the thread starts
// (its class is complete only once its constructor has run, after the creation).
void NotePeerThread(TThread* thread) {
  if (!IsIntraWeb() || peerThreadID.load() != 0) return;
  int status = 0;
  char* name = abi::__cxa_demangle(typeid(*thread).name(), nullptr, nullptr, &status);
  std::string className = status == 0 && name != nullptr ? name : typeid(*thread).name();
  std::free(name);
  if (const auto colon = className.rfind("::"); colon != std::string::npos) className.erase(0, colon + 2);
  if (AsciiUpper(className) != "TIDPEERTHREAD") return;
  DWORD expected = 0;
  if (peerThreadID.compare_exchange_strong(expected, ::GetCurrentThreadId())) SetWebWorkerThread(::GetCurrentThreadId());
}

// Removes the calling thread's record when the scope ends, also when an exception leaves it.
class TRemoveRecordAtEnd {
 public:
  TRemoveRecordAtEnd() = default;
  ~TRemoveRecordAtEnd() { CrashThreads().RemoveCurrent(); }
  TRemoveRecordAtEnd(const TRemoveRecordAtEnd&) = delete;
  TRemoveRecordAtEnd& operator=(const TRemoveRecordAtEnd&) = delete;
};

}  // namespace

HANDLE WINAPI HookedCreateThread(LPSECURITY_ATTRIBUTES attributes, SIZE_T stackSize,
                                 LPTHREAD_START_ROUTINE startAddress, LPVOID parameter, DWORD creationFlags,
                                 LPDWORD threadID) {
  TraceEnter("HookedCreateThread", {reinterpret_cast<const void*>(startAddress), parameter, creationFlags});
  const TCreateThread create = Kernel32Procedure(g_createThread, "CreateThread");
  if (!ReporterInstalled()) {
    const HANDLE handle = create(attributes, stackSize, startAddress, parameter, creationFlags, threadID);
    const DWORD error = ::GetLastError();
    TraceLeave("HookedCreateThread", {handle});
    ::SetLastError(error);
    return handle;
  }

  HANDLE handle = nullptr;
  DWORD id = 0;
  DWORD error = 0;
  {
    auto& list = CrashThreads();
    TThreadsListLock hold(list);
    TThread* threadObject = nullptr;
    if (TThreadStartRecord* start = RuntimeThreadStart(startAddress, parameter)) {
      const TThreadFunction procedure = start->ThreadFunc;
      if (IsReadable(start->ThreadObject, sizeof(void*))) threadObject = start->ThreadObject;
      start->ThreadFunc = &HookedRTLThreadProc;
      handle = create(attributes, stackSize, startAddress, parameter, creationFlags | CREATE_SUSPENDED, &id);
      error = ::GetLastError();
      if (!handle) start->ThreadFunc = procedure;
    } else {
      auto plain = std::make_unique<TPlainThreadStart>(TPlainThreadStart{startAddress, parameter});
      handle = create(attributes, stackSize, &HookedThreadProc, plain.get(), creationFlags | CREATE_SUSPENDED, &id);
      error = ::GetLastError();
      if (handle) plain.release();
    }
    if (handle) {
      try {
        AddRecord(list, id, handle, startAddress, parameter, threadObject);
      } catch (...) {
        // Out of memory: the thread runs without a creation stack.
      }
    }
  }
  if (threadID) *threadID = id;
  // The record is complete and the lock released before the thread can first run.
  if (handle && !(creationFlags & CREATE_SUSPENDED)) HookedResumeThread(handle);
  TraceLeave("HookedCreateThread", {handle});
  ::SetLastError(error);
  return handle;
}

DWORD WINAPI HookedResumeThread(HANDLE thread) {
  // The slot that holds this procedure's return address: the creation stack starts there.
  const auto returnSlot = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0)) + 4;
  TraceEnter("HookedResumeThread", {thread});
  const TResumeThread resume = Kernel32Procedure(g_resumeThread, "ResumeThread");
  if (ReporterInstalled()) {
    try {
      KeepCreationStack(thread, returnSlot);
    } catch (...) {
      // Out of memory: the thread runs without a creation stack.
    }
  }
  const DWORD previous = resume(thread);
  const DWORD error = ::GetLastError();
  TraceLeave("HookedResumeThread", {previous});
  ::SetLastError(error);
  return previous;
}

void WINAPI HookedExitThread(DWORD exitCode) {
  TraceEnter("HookedExitThread", {exitCode});
  const TExitThread exit = Kernel32Procedure(g_exitThread, "ExitThread");
  // Also after the reporter went: a record made while it was installed must not outlive its thread.
  CrashThreads().RemoveCurrent();
  exit(exitCode);
  __builtin_unreachable();
}

DWORD WINAPI HookedThreadProc(void* parameter) {
  const TPlainThreadStart start = *static_cast<TPlainThreadStart*>(parameter);
  delete static_cast<TPlainThreadStart*>(parameter);
  TraceEnter("HookedThreadProc", {reinterpret_cast<const void*>(start.StartAddress), start.Parameter});
  DWORD result = 0;
  {
    TRemoveRecordAtEnd removeRecord;
    try {
      result = start.StartAddress(start.Parameter);
    } catch (...) {
      result = 0;
    }
  }
  TraceLeave("HookedThreadProc", {result});
  return result;
}

std::uint32_t HookedRTLThreadProc(TThread* thread) {
  TraceEnter("HookedRTLThreadProc", {static_cast<const void*>(thread)});
  NoteThreadObject(thread);
  NotePeerThread(thread);
  std::uint32_t result;
  {
    TRemoveRecordAtEnd removeRecord;
    result = thread->ThreadProcedure()(thread);
  }
  TraceLeave("HookedRTLThreadProc", {result});
  return result;
}

namespace {

struct TThreadHook {
  const char* Name;
  void* Replacement;
};
const TThreadHook kThreadHooks[] = {
    {"CreateThread", reinterpret_cast<void*>(&HookedCreateThread)},
    {"ResumeThread", reinterpret_cast<void*>(&HookedResumeThread)},
    {"ExitThread", reinterpret_cast<void*>(&HookedExitThread)},
};

struct TInstalledImportHook {
  std::uintptr_t Module;
  void* Old;
  void* Replacement;
};

struct TInstalledHooks {
  std::mutex Lock;
  std::vector<TInstalledImportHook> Hooks;
  bool Installed = false;
};

TInstalledHooks& InstalledHooks() {
  static TInstalledHooks* hooks = new TInstalledHooks;
  return *hooks;
}

// The module that holds `procedure`; an import thunk (FF 25 [slot]) stands for the procedure
// its slot holds.
std::uintptr_t ModuleOfProcedure(const void* procedure) {
  auto address = reinterpret_cast<std::uintptr_t>(procedure);
  std::uint8_t code[6];
  if (ReadMemory(address, code, sizeof code) && code[0] == 0xFF && code[1] == 0x25) {
    std::uint32_t slot, destination;
    std::memcpy(&slot, code + 2, 4);
    if (ReadMemory(slot, &destination, 4)) address = destination;
  }
  return AllocationBaseOf(address);
}

// The program (the module of the reporter), and the C runtime library whose _beginthreadex
// creates the threads of std::thread.
std::vector<std::uintptr_t> ThreadCreatingModules() {
  std::vector<std::uintptr_t> modules{TCrashModulesList::RunningModuleHandle()};
  const std::uintptr_t runtime = ModuleOfProcedure(reinterpret_cast<const void*>(&_beginthreadex));
  if (runtime != 0 && runtime != modules[0]) modules.push_back(runtime);
  return modules;
}

}  // namespace

int InstallThreadHooks() {
  TraceEnter("InstallThreadHooks");
  auto& installed = InstalledHooks();
  std::lock_guard guard(installed.Lock);
  if (!installed.Installed) {
    const HMODULE kernel32 = ::GetModuleHandleA("kernel32.dll");
    const auto modules = ThreadCreatingModules();
    for (const TThreadHook& hook : kThreadHooks) {
      void* old = reinterpret_cast<void*>(::GetProcAddress(kernel32, hook.Name));
      if (!old) continue;
      for (std::uintptr_t module : modules) {
        if (HookImport(module, old, hook.Replacement, false, true, std::string("kernel32.dll.") + hook.Name))
          installed.Hooks.push_back({module, old, hook.Replacement});
      }
    }
    installed.Installed = true;
  }
  const int count = static_cast<int>(installed.Hooks.size());
  TraceLeave("InstallThreadHooks", {count});
  return count;
}

DWORD PeerThreadID() noexcept { return peerThreadID.load(); }

void UninstallThreadHooks() {
  TraceEnter("UninstallThreadHooks");
  auto& installed = InstalledHooks();
  std::lock_guard guard(installed.Lock);
  for (const TInstalledImportHook& hook : installed.Hooks)
    HookImport(hook.Module, hook.Replacement, hook.Old, true, true, {});
  installed.Hooks.clear();
  installed.Installed = false;
  TraceLeave("UninstallThreadHooks");
}

}  // namespace pelloran::crashlog
