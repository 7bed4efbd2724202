// A small program that fails in one way, chosen by its argument, with the interception layer
// installed. A notification like the reporter's own prints what it receives, as one line each:
//   notify class=... language=0|1 handled=0|1 thread=... capture=... at=... | message
//   last-chance class=... reported-at-raise=0|1 thread=... | message
// and the scenario prints what the program itself saw. The test driver checks the lines and the
// exit code.

#include <windows.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>

#include "base/exceptions.h"
#include "crashlog/capture/exception_handled.h"
#include "crashlog/capture/intercept.h"
#include "runtime/application.h"
#include "runtime/safecall.h"

using namespace pelloran;
using namespace pelloran::crashlog;

extern "C" void __wrap___cxa_throw();
extern "C" void __wrap___cxa_rethrow();

namespace {

DWORD mainThread = GetCurrentThreadId();
std::atomic<DWORD> workerThread{0};

// main, worker (the scenario's own thread) or helper (any other: the layer's).
const char* ThreadName(DWORD id) {
  if (id == mainThread) return "main";
  return id == workerThread.load() ? "worker" : "helper";
}

void Print(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Print(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vfprintf(stdout, format, args);
  va_end(args);
  std::fflush(stdout);
}

// Where the capture says the raise was, checked against what it must be: for a throw, Eip is a
// direct call (E8) to the throw entry and the raise address is the instruction after it; for a
// fault, Eip is the faulting instruction itself.
const char* CapturePlace(const TThreadCapture& capture, const void* address, bool language) {
  const CONTEXT& c = capture.Context;
  if (c.ContextFlags != 0x10007) return "none";
  if (!language) return c.Eip == reinterpret_cast<DWORD>(address) ? "fault-instruction" : "wrong";
  auto* call = reinterpret_cast<const unsigned char*>(c.Eip);
  if (call[0] != 0xE8 || c.Eip + 5 != reinterpret_cast<DWORD>(address)) return "wrong";
  std::int32_t displacement;
  std::memcpy(&displacement, call + 1, 4);
  DWORD target = c.Eip + 5 + displacement;
  if (target == reinterpret_cast<DWORD>(&__wrap___cxa_throw)) return "throw-call";
  if (target == reinterpret_cast<DWORD>(&__wrap___cxa_rethrow)) return "rethrow-call";
  return "wrong";
}

void OnRaise(const TExceptionObject& object, const void* address, bool language) {
  if (object.IsAbort()) return;
  bool handled = IsExceptionHandled(object, address);
  const TThreadCapture& capture = CurrentThreadCapture();
  Print("notify class=%s language=%d handled=%d thread=%s capture=%s at=%s | %s\n", object.ClassName().c_str(),
        language, handled, ThreadName(GetCurrentThreadId()), ThreadName(capture.ThreadId),
        CapturePlace(capture, address, language), object.Message().c_str());
}

void OnLastChance(const TExceptionObject& object, const void*, bool, bool reportedAtRaise) {
  Print("last-chance class=%s reported-at-raise=%d thread=%s | %s\n", object.ClassName().c_str(), reportedAtRaise,
        ThreadName(GetCurrentThreadId()), object.Message().c_str());
}

struct Noisy {
  const char* Name;
  ~Noisy() { Print("destroyed %s\n", Name); }
};

// --- language exceptions ---------------------------------------------------------------------

__attribute__((noinline)) void ThrowInOut(int depth) {
  Noisy guard{"thrower"};
  if (depth == 0) throw EInOutError("Disk full", 112);
  ThrowInOut(depth - 1);
  asm volatile("");
}

int CaughtTypedBase() {
  try {
    try {
      ThrowInOut(3);
    } catch (const EConvertError&) {
      Print("wrong handler\n");
    }
  } catch (const Exception& e) {
    Print("caught %s | %s\n", std::string(e.ClassName()).c_str(), e.Message().c_str());
  }
  return 0;
}

int CaughtAll() {
  try {
    throw std::runtime_error("plain standard error");
  } catch (...) {
    Print("caught by catch-all\n");
  }
  return 0;
}

// --- the message loop ----------------------------------------------------------------------------

// An address no program data lives at; through a volatile so that the compiler keeps the access.
volatile int* const volatile unmapped = reinterpret_cast<volatile int*>(0x10);
const char* const volatile noText = nullptr;
std::size_t (*volatile textLength)(const char*) = &std::strlen;

__attribute__((noinline)) void WriteTo(volatile int* where) {
  Noisy guard{"writer"};
  *where = 1;
}

LRESULT CALLBACK EventWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_APP) {
    CallEventHandler(nullptr, [] { throw EConvertError("'abc' is not a valid integer value"); });
    return 0;
  }
  if (message == WM_APP + 1) {
    CallEventHandler(nullptr, [] { WriteTo(unmapped); });
    return 0;
  }
  if (message == WM_APP + 2) {
    CallEventHandler(nullptr, [] { Print("IsBadReadPtr=%d\n", IsBadReadPtr(nullptr, 4)); });
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

HWND MakeEventWindow() {
  WNDCLASSA wc{};
  wc.lpfnWndProc = &EventWindowProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "CrashProbeEvents";
  RegisterClassA(&wc);
  return CreateWindowA(wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
}

int EventHandlers() {
  Application().OnException = [](TObject*, std::exception_ptr) {
    TExceptionObject current = TExceptionObject::Current();
    TRaiseRecord raise = RaiseOfCurrentException();
    Print("framework-handler class=%s raise-known=%d language=%d | %s\n", current.ClassName().c_str(),
          raise.Address != nullptr, raise.IsLanguageRaise, current.Message().c_str());
  };
  HWND window = MakeEventWindow();
  PostMessageA(window, WM_APP, 0, 0);
  PostMessageA(window, WM_APP + 1, 0, 0);
  PostMessageA(window, WM_APP + 2, 0, 0);
  Application().ProcessMessages();
  Print("message loop goes on\n");
  return 0;
}

// --- faults ----------------------------------------------------------------------------------------

int AccessViolationCaught() {
  try {
    Noisy outer{"outer"};
    WriteTo(unmapped);
    Print("not reached\n");
  } catch (const EAccessViolation& e) {
    Print("caught %s | %s\n", std::string(e.ClassName()).c_str(), e.Message().c_str());
  }
  // Again, to show that nothing was left half done.
  try {
    WriteTo(unmapped);
  } catch (const EExternal& e) {
    Print("caught again code=%08X\n", e.ExceptionCode);
  }
  Print("program goes on\n");
  return 0;
}

int AccessViolationInLibrary() {
  try {
    Print("length %u\n", static_cast<unsigned>(textLength(noText)));
  } catch (...) {
    Print("caught, but must not be: the library's frame cannot be unwound\n");
  }
  Print("not reached\n");
  return 0;
}

int DivisionByZero() {
  volatile int zero = 0;
  try {
    Print("quotient %d\n", 100 / zero);
  } catch (const EIntError& e) {
    Print("caught %s | %s\n", std::string(e.ClassName()).c_str(), e.Message().c_str());
  }
  return 0;
}

int LibraryHandlesItself() {
  // Probes and notes that the system handles itself, inside and outside the runtime's frames.
  Print("IsBadReadPtr=%d\n", IsBadReadPtr(nullptr, 4));
  HWND window = MakeEventWindow();
  PostMessageA(window, WM_APP + 2, 0, 0);
  Application().ProcessMessages();
  struct {
    DWORD Type, Name, Thread, Flags;
  } threadName{0x1000, 0, static_cast<DWORD>(-1), 0};
  threadName.Name = reinterpret_cast<DWORD>("probe thread");
  RaiseException(0x406D1388, 0, 4, reinterpret_cast<const ULONG_PTR*>(&threadName));
  OutputDebugStringA("probe output\n");
  Print("done\n");
  return 0;
}

// --- stack overflow ----------------------------------------------------------------------------

int Recurse(int depth);
int (*volatile recurse)(int) = &Recurse;

__attribute__((noinline)) int Recurse(int depth) {
  volatile char frame[512];
  frame[0] = static_cast<char>(depth);
  return recurse(depth + 1) + frame[0];
}

void OverflowTwice(const char* where) {
  for (int round = 1; round <= 2; ++round) {
    try {
      Recurse(0);
    } catch (const EStackOverflow& e) {
      Print("caught %s round %d in %s | %s\n", std::string(e.ClassName()).c_str(), round, where, e.Message().c_str());
    }
  }
}

int OverflowMain() {
  OverflowTwice("main");
  return 0;
}

DWORD RunThread(LPTHREAD_START_ROUTINE body, void* parameter = nullptr) {
  DWORD id = 0;
  HANDLE thread = CreateThread(nullptr, 0, body, parameter, CREATE_SUSPENDED, &id);
  workerThread.store(id);
  ResumeThread(thread);
  WaitForSingleObject(thread, INFINITE);
  DWORD code = 0;
  GetExitCodeThread(thread, &code);
  CloseHandle(thread);
  return code;
}

DWORD WINAPI OverflowingThread(void*) {
  OverflowTwice("worker");
  return 7;
}

int OverflowWorker() {
  DWORD code = RunThread(&OverflowingThread);
  Print("worker ended with %lu\n", code);
  return 0;
}

// --- nothing catches -----------------------------------------------------------------------------

int UncaughtMain() {
  Noisy guard{"main local"};
  ThrowInOut(1);
  Print("not reached\n");
  return 0;
}

DWORD WINAPI GivingUpThread(void*) { throw std::logic_error("worker gave up"); }

int UncaughtWorker() {
  DWORD code = RunThread(&GivingUpThread);
  Print("worker ended with %lu\n", code);
  return 0;
}

int UncaughtStdThread() {
  std::thread worker([] {
    workerThread.store(GetCurrentThreadId());
    throw std::out_of_range("index 9 out of range");
  });
  worker.join();
  Print("joined\n");
  return 0;
}

// --- the thread wrapper --------------------------------------------------------------------------

// The runtime's thread wrapper in small: runs the body and swallows what escapes it.
__attribute__((noinline)) DWORD ThreadWrapper(void (*body)()) {
  try {
    body();
  } catch (...) {
    Print("thread wrapper swallowed %s\n", TExceptionObject::Current().ClassName().c_str());
    return 3;
  }
  return 0;
}

void FaultInBody() { WriteTo(unmapped); }

void RethrowInBody() {
  try {
    throw EConvertError("'x' is not a valid integer value");
  } catch (...) {
    Print("cleaning up, passing it on\n");
    throw;
  }
}

DWORD WINAPI WrappedThread(void* body) { return ThreadWrapper(reinterpret_cast<void (*)()>(body)); }

int ThreadWrapperOnly() {
  RegisterHandlerMarker(THandlerRole::ThreadWrapper, reinterpret_cast<const void*>(&ThreadWrapper));
  Print("worker ended with %lu\n", RunThread(&WrappedThread, reinterpret_cast<void*>(&FaultInBody)));
  Print("worker ended with %lu\n", RunThread(&WrappedThread, reinterpret_cast<void*>(&RethrowInBody)));
  // In the main thread the wrapper's frame counts as the program's.
  Print("main wrapper returned %lu\n", ThreadWrapper([] { throw EConvertError("main"); }));
  return 0;
}

// --- initialization and finalization -------------------------------------------------------------

bool unitsScenario = false;

struct TUnitsWatch {
  bool InitializingDuringStaticInit = UnitsInitializing();
  ~TUnitsWatch() {
    if (unitsScenario) Print("static destruction finalizing=%d\n", UnitsFinalizing());
  }
} unitsWatch;

int Units() {
  unitsScenario = true;
  Print("static initialization initializing=%d\n", unitsWatch.InitializingDuringStaticInit);
  Print("main initializing=%d finalizing=%d\n", UnitsInitializing(), UnitsFinalizing());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  InstallInterception();
  // The runtime's catching frames, as the reporter's installation registers them.
  RegisterHandlerMarker(THandlerRole::EventHandler, reinterpret_cast<const void*>(&DispatchEventHandler));
  RegisterHandlerMarker(THandlerRole::SafeCall, reinterpret_cast<const void*>(&SafeCallInvoke));
  RegisterSafeCallCheck(reinterpret_cast<const void*>(&CheckSafeCallResult));
  SetRaiseNotify(&OnRaise);
  SetLastChanceNotify(&OnLastChance);
  std::string scenario = argc > 1 ? argv[1] : "";
  Print("probe WriteTo=%08X\n", static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(&WriteTo)));
  if (scenario == "caught-typed-base") return CaughtTypedBase();
  if (scenario == "caught-all") return CaughtAll();
  if (scenario == "event-handlers") return EventHandlers();
  if (scenario == "access-violation") return AccessViolationCaught();
  if (scenario == "access-violation-in-library") return AccessViolationInLibrary();
  if (scenario == "division-by-zero") return DivisionByZero();
  if (scenario == "library-handles-itself") return LibraryHandlesItself();
  if (scenario == "stack-overflow-main") return OverflowMain();
  if (scenario == "stack-overflow-worker") return OverflowWorker();
  if (scenario == "uncaught-main") return UncaughtMain();
  if (scenario == "uncaught-worker") return UncaughtWorker();
  if (scenario == "uncaught-std-thread") return UncaughtStdThread();
  if (scenario == "thread-wrapper") return ThreadWrapperOnly();
  if (scenario == "units") return Units();
  Print("unknown scenario\n");
  return 2;
}
