#pragma once
// Hooks on the creation, resumption and end of threads, for the thread registry.
//
// Every thread created through the hooked CreateThread starts suspended and is registered before
// it can run; the stack of whoever resumes it is copied at each resume, so a thread resumed twice
// keeps the stack of the second resume. Plain threads run through HookedThreadProc; threads of
// the runtime's thread class keep their wrapper as entry and run HookedRTLThreadProc in place of
// their thread procedure. Both entries remove the thread's record when its function returns, as
// HookedExitThread does for a thread that ends itself.
//
// The hooks replace kernel32's CreateThread, ResumeThread and ExitThread in the import slots of
// the module that holds the reporter (the program: TThread and direct calls) and of the C
// runtime library that _beginthreadex belongs to (under this toolchain msvcrt.dll, whose
// _beginthreadex creates the threads of std::thread; winpthreads resumes them from the program).

#include <windows.h>

#include <cstdint>

#include "runtime/thread.h"

namespace pelloran::crashlog {

// kernel32 CreateThread, with the same arguments and result. A caller's other creation flags are
// passed on; the thread is resumed here unless the caller asked for CREATE_SUSPENDED.
HANDLE WINAPI HookedCreateThread(LPSECURITY_ATTRIBUTES attributes, SIZE_T stackSize,
                                 LPTHREAD_START_ROUTINE startAddress, LPVOID parameter, DWORD creationFlags,
                                 LPDWORD threadID);
// kernel32 ResumeThread: takes the creation stack, then returns the real previous suspend count.
DWORD WINAPI HookedResumeThread(HANDLE thread);
// kernel32 ExitThread: forgets the calling thread's record.
[[noreturn]] void WINAPI HookedExitThread(DWORD exitCode);
// The entry of plain threads; `start` is the hooks' own start block. What escapes the thread
// function ends the thread with exit code 0.
DWORD WINAPI HookedThreadProc(void* start);
// Stands in for the thread procedure of a runtime thread (RuntimeThreadProcs()).
std::uint32_t HookedRTLThreadProc(TThread* thread);

// The web framework's peer thread (the first runtime thread of the class TIdPeerThread started
// while the framework's exception handler is hooked), 0 when none. IsExceptionHandled lets its
// thread wrapper's frame count as handling (SetWebWorkerThread): the framework deals with it.
DWORD PeerThreadID() noexcept;

// Redirects the imports (see above). Returns how many import hooks were made (procedure and
// module pairs); modules that do not import a procedure are skipped. Installing twice does
// nothing more.
int InstallThreadHooks();
// Puts the original procedures back into the slots these hooks wrote. Records of live threads
// stay until their threads end.
void UninstallThreadHooks();

}  // namespace pelloran::crashlog
