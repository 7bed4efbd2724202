#pragma once
// Walks the frames of a stack outward from a register state (a throw point, a faulting
// instruction), with the program's unwind information, without unwinding anything: the frames
// stay as they are, and the stack may belong to another thread that is held still. Each frame
// comes with what its exception tables need.

#include "crashlog/capture/exception_handled_lsda.h"

#include <windows.h>

#include <cstdint>

namespace pelloran::crashlog {

struct TFrameInfo {
  std::uintptr_t Ip = 0;        // return address into the frame, or the faulting instruction
  std::uintptr_t LookupIp = 0;  // where its tables are looked up (Ip - 1 after a call)
  std::uintptr_t StackPointer = 0;  // the frame's stack pointer at Ip
  bool HasUnwindInfo = false;   // false: code without unwind tables (a system library); the walk ends
  const std::uint8_t* Lsda = nullptr;  // exception tables of the frame, when it has any
  TEncodedBases Bases;                 // Func is the start of the frame's function
  bool CxxPersonality = false;         // the tables are read by the C++ personality routine
};

enum class TWalkEnd {
  Stopped,       // the visitor asked to stop
  EndOfStack,    // the last frame had no caller
  NoUnwindInfo,  // a frame without unwind information was reached (and visited)
};

struct TWalkLimits {
  std::uintptr_t StackLow = 0;   // lowest address frames may be read from
  std::uintptr_t StackHigh = 0;  // stack base of the walked thread (exclusive)
};

// Calls visit(frame, context) for each frame from the one that `start` describes outward, until
// visit returns false or the frames end. `start.Eip` is the exact instruction (a fault, or the
// call instruction of a throw); the frames above are looked up at their return address minus one.
using TFrameVisitor = bool (*)(const TFrameInfo& frame, void* context);
TWalkEnd WalkFrames(const CONTEXT& start, const TWalkLimits& limits, TFrameVisitor visit, void* context);

// The stack range of the calling thread (from its thread information block).
TWalkLimits CurrentThreadStack() noexcept;

// The start and end of the function whose unwind information covers `address` (the whole
// function, as the compiler emitted it); false when none does.
bool FunctionRange(const void* address, std::uintptr_t& begin, std::uintptr_t& end) noexcept;

}  // namespace pelloran::crashlog
