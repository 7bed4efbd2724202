#pragma once
// The flow's process-wide state: installed or not, the one-error-at-a-time claim, the threads
// that may hold it, and the count of errors reported. The error in progress itself is a
// TErrorInProgress, handed from step to step.

#include <atomic>
#include <cstdint>

namespace pelloran::crashlog {

struct TReportFlowState {
  std::atomic<bool> Installed{false};
  std::atomic<bool> Busy{false};
  std::atomic<std::uint32_t> OwnerThread{0};
  std::atomic<std::uint32_t> WorkerThread{0};
  std::atomic<int> ErrorCount{0};

  std::uintptr_t MainStackBase = 0;

  // Back to the state of a fresh installation (ErrorCount included).
  void Reset();
};

TReportFlowState& Flow() noexcept;

// The one-at-a-time rule. A thread other than the owner or the worker waits in 10 ms steps until
// no error is processed and then claims it in one atomic step; the owner and the worker never
// wait (they would wait for themselves) and get false while an error is processed.
bool ClaimBusy() noexcept;
void ReleaseBusy() noexcept;

class TBusyClaim {
 public:
  TBusyClaim() noexcept : held_(ClaimBusy()) {}
  ~TBusyClaim() {
    if (held_) ReleaseBusy();
  }
  TBusyClaim(const TBusyClaim&) = delete;
  TBusyClaim& operator=(const TBusyClaim&) = delete;
  bool Held() const noexcept { return held_; }

 private:
  bool held_;
};

}  // namespace pelloran::crashlog
