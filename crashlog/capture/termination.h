#pragma once
// The ends of a C++ program that no thrown exception announces: abort() and SIGABRT, a failed
// assert, a call of a pure virtual function, std::terminate without an exception. Each becomes
// one report of an exception object of its own class, whose message says why, raised where the
// failing code called the runtime; then the program ends: abort and assert with exit code 3 for
// the whole process, as the C runtime does (without its message boxes), the others as an
// uncaught exception ends (the main thread ends the process with exit code 1, any other thread
// ends itself).
//
// The C runtime's abort, raise, _assert and _wassert are reached through the program's import
// slots: whoever installs the reporter points them at the replacements below. std::terminate and
// the pure virtual entry are wrapped at link time (-Wl,--wrap=_ZSt9terminatev and
// -Wl,--wrap=__cxa_pure_virtual): a program's vtables refer to the latter only weakly, so without
// the wrap the runtime's own entry is never linked and the call jumps to 0.

#include <string>
#include <string_view>

#include "base/exceptions.h"

namespace pelloran::crashlog {

// abort() was called, or SIGABRT raised.
PELLORAN_EXCEPTION_CLASS(EAbnormalTermination, Exception);
// A pure virtual function was called (from a constructor or destructor of its class).
PELLORAN_EXCEPTION_CLASS(EPureVirtualCall, Exception);
// std::terminate was called with no exception in flight.
PELLORAN_EXCEPTION_CLASS(ETerminateCalled, Exception);

// "Assertion failed: <expression>, file <file>, line <line>", as the C runtime writes it.
std::string AssertionText(std::string_view expression, std::string_view file, unsigned line);

// Stand-ins for the C runtime's procedures of those names (same calling convention). Without the
// interception installed they call the real ones.
[[noreturn]] void __cdecl ReportedAbort();
int __cdecl ReportedRaise(int signal);
[[noreturn]] void __cdecl ReportedAssert(const char* expression, const char* file, unsigned line);
[[noreturn]] void __cdecl ReportedWideAssert(const wchar_t* expression, const wchar_t* file, unsigned line);
// The C runtime's own procedures the stand-ins replace.
void* RuntimeAbort() noexcept;
void* RuntimeRaise() noexcept;
void* RuntimeAssert() noexcept;
void* RuntimeWideAssert() noexcept;

namespace intercept {
// The SIGABRT handler, and the C runtime's error output sent to standard error so that none of
// its boxes waits for a user before the report (installed with the last chance).
void InstallTerminationHandlers() noexcept;
void UninstallTerminationHandlers() noexcept;
}  // namespace intercept

}  // namespace pelloran::crashlog
