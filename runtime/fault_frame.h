#pragma once
// A structured-exception registration record that the runtime links into the thread's handler
// chain around the code it runs on the program's behalf (event handlers; thread bodies may use it
// too). The system calls its handler in the first pass of a fault, while the faulting stack is
// still intact, and only when no handler nearer the fault took it first: a library that probes
// memory under its own __try keeps its faults to itself. The crash reporter installs the handler;
// without one, the frame passes every exception on.

#include <windows.h>

namespace pelloran {

// The calling thread's information block (fs:[0x18] on i386). Read directly: the system header's
// NtCurrentTeb trips a false array-bounds warning in GCC 12.
inline NT_TIB* CurrentThreadInformationBlock() noexcept {
  NT_TIB* tib;
  asm("movl %%fs:0x18, %0" : "=r"(tib));
  return tib;
}

// True when the handler took the exception: it changed the context and execution is to go on
// there. False passes the exception on to the next frame of the chain.
using TFaultFrameHandler = bool (*)(EXCEPTION_RECORD* record, CONTEXT* context) noexcept;

// Sets the handler of every fault frame of the process; returns the previous one.
TFaultFrameHandler SetFaultFrameHandler(TFaultFrameHandler handler) noexcept;

// Lives on the stack for the span it guards; frames nest like the calls that make them.
class TFaultFrame {
 public:
  TFaultFrame() noexcept;
  ~TFaultFrame();
  TFaultFrame(const TFaultFrame&) = delete;
  TFaultFrame& operator=(const TFaultFrame&) = delete;

 private:
  // Laid out as the system's registration record (next, handler): it is linked into fs:[0] as is.
  TFaultFrame* next_;
  void* handler_;
};

}  // namespace pelloran
