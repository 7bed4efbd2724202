#pragma once
// Will the program's own frames catch this exception? Answered by walking the frames from the
// raise point outward and reading each frame's exception tables the way the C++ runtime's search
// phase does, without unwinding anything. The frames of the runtime that catch on the program's
// behalf (the event-handler catch of the message loop, the thread wrapper, the catch of Synchronize,
// the safecall wrapper) are told apart by the function ranges their owners register.

#include "crashlog/capture/exception_object.h"

#include <windows.h>

#include <cstdint>

namespace pelloran::crashlog {

// What a catching frame is, beyond "the program's own catch block".
enum class THandlerRole : std::uint8_t {
  Program,        // a catch block of the program
  EventHandler,   // the message loop's catch around event handlers: the framework handler reports
  ThreadWrapper,  // the catch-all of the thread wrapper: swallows silently, does not count
  Synchronize,    // the catch-all with which the main thread runs a method for another thread
  SafeCall,       // the safecall wrapper: turns the exception into an error result
};

// Registers the function that holds `address` (its whole range, from its unwind information) as a
// frame of `role`. A frame inside the range whose catch clause takes the exception plays that role.
// False when no unwind information covers the address or the table is full (16 entries).
bool RegisterHandlerMarker(THandlerRole role, const void* address) noexcept;
// The same for an explicit range [begin, end).
bool RegisterHandlerMarkerRange(THandlerRole role, const void* begin, const void* end) noexcept;
// The runtime's safecall check (the function that raises a failed safecall result again): an
// EOleException raised from inside it, when a safecall method catches it, is the echo of an error
// that was reported where it arose, not a new one. False when no unwind information covers it.
bool RegisterSafeCallCheck(const void* address) noexcept;
// The reporter runs in a library whose host program carries reporter data of its own: every
// exception counts as handled (the host's reporter deals with it), except at a safecall wrapper.
void SetHandledByHost(bool handled) noexcept;
// The web framework's worker thread (its peer thread): there the thread wrapper's frame counts as
// handling the exception, as in the main thread; the framework's own handler deals with it. 0: none.
void SetWebWorkerThread(DWORD threadId) noexcept;

// The first frame, from the start point outward, that takes the exception.
struct THandlerSearch {
  enum class TEnd {
    Caught,        // a frame takes it
    Terminates,    // a frame refuses it (noexcept, no entry in its tables): std::terminate
    NoUnwindInfo,  // the walk reached code without unwind information (a system library)
    EndOfStack,    // no frame took it
  };
  TEnd End = TEnd::EndOfStack;
  int Kind = 0;  // 1 catch (...), 2 a typed catch that takes the class, 3 the safecall wrapper
  THandlerRole Role = THandlerRole::Program;
  // The catching frame (or, for Terminates, the frame that refuses the exception): its return
  // address and its stack pointer there. Everything below that stack pointer unwinds.
  std::uintptr_t CatchingIp = 0;
  std::uintptr_t CatchingStackPointer = 0;
  int Frames = 0;  // frames looked at

  bool Caught() const noexcept { return End == TEnd::Caught; }
};

// Searches the frames of the stack that `start` describes (start.Eip is the exact instruction:
// the throwing call or the faulting one), whose stack lies within [stackLow, stackHigh).
THandlerSearch SearchHandlers(const CONTEXT& start, std::uintptr_t stackLow, std::uintptr_t stackHigh,
                              const TExceptionObject& object);
// The same on the calling thread's stack.
THandlerSearch SearchHandlers(const CONTEXT& start, const TExceptionObject& object);

// True when a frame of the program's own code will catch the exception, so it is not to be
// reported now: either the program handles it, or it reaches the framework's handler, which
// reports it. False when it is to be reported now, while the raising stack is intact. Walks from
// the raise point recorded in the calling thread's capture (CurrentThreadCapture(), which is the
// faulting thread's on the helper thread of a stack overflow). The rules:
//  - the first catching frame decides (C++ has no handler that looks and passes on: a catch block
//    that throws again is a new raise);
//  - the catch of Synchronize gives false: the exception is reported in the main thread, where it
//    arose;
//  - the safecall wrapper gives false and sets the safecall flag, so that the caller's check ends
//    the failure silently; except for an EOleException raised by the runtime's safecall check
//    (RegisterSafeCallCheck), the echo of a failure already reported, which counts as handled;
//  - in a thread other than the main thread (and the web framework's worker), the thread
//    wrapper's catch-all does not count: false;
//    in the main thread it counts, except while static initialization or destruction runs;
//  - a frame that refuses the exception (std::terminate) or the end of the frames gives false.
// `address` is the raise address the notification received; it is recorded with the answer so
// that the last-chance handler knows what was reported already.
bool IsExceptionHandled(const TExceptionObject& object, const void* address);

// The search behind the calling thread's last IsExceptionHandled answer: which frame will catch.
const THandlerSearch& LastHandlerSearch() noexcept;

// Whether IsExceptionHandled last answered false for this object (so it was reported at its
// raise). Kept for a few recent objects, process-wide.
bool WasReportedAtRaise(const TExceptionObject& object) noexcept;

}  // namespace pelloran::crashlog
