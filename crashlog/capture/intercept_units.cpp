// The program's initialization and finalization, seen from their two doors: __main runs every
// static initializer (called by the C runtime's start-up before main, and again, doing nothing,
// from main), exit runs the atexit list with every static destructor. Both are wrapped at link
// time (-Wl,--wrap=__main,--wrap=exit).

#include <windows.h>

#include <atomic>

#include "crashlog/capture/intercept_state.h"

extern "C" void __real___main();
extern "C" [[noreturn]] void __real_exit(int code);

namespace {
std::atomic<bool> initializationDone{false};
std::atomic<bool> finalizationBegun{false};
}  // namespace

extern "C" void __wrap___main() {
  DWORD expected = 0;
  pelloran::crashlog::intercept::Globals().MainThread.compare_exchange_strong(expected, GetCurrentThreadId());
  __real___main();
  initializationDone.store(true);
}

extern "C" [[noreturn]] void __wrap_exit(int code) {
  finalizationBegun.store(true);
  __real_exit(code);
}

namespace pelloran::crashlog {

bool UnitsInitializing() noexcept { return !initializationDone.load(); }
bool UnitsFinalizing() noexcept { return finalizationBegun.load(); }

}  // namespace pelloran::crashlog
