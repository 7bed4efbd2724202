#include "crashlog/flow/flow_state.h"

#include <windows.h>

namespace pelloran::crashlog {

void TReportFlowState::Reset() {
  Busy = false;
  OwnerThread = 0;
  WorkerThread = 0;
  ErrorCount = 0;
}

TReportFlowState& Flow() noexcept {
  static TReportFlowState state;
  return state;
}

bool ClaimBusy() noexcept {
  TReportFlowState& flow = Flow();
  const std::uint32_t self = ::GetCurrentThreadId();
  bool expected = false;
  if (self == flow.OwnerThread || self == flow.WorkerThread) {
    if (!flow.Busy.compare_exchange_strong(expected, true)) return false;
  } else {
    while (!flow.Busy.compare_exchange_weak(expected, true)) {
      expected = false;
      ::Sleep(10);
    }
  }
  flow.OwnerThread = self;
  return true;
}

void ReleaseBusy() noexcept { Flow().Busy = false; }

}  // namespace pelloran::crashlog
