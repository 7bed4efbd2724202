#include "runtime/fault_frame.h"

#include <atomic>

namespace pelloran {

namespace {

std::atomic<TFaultFrameHandler> frameHandler{nullptr};

EXCEPTION_DISPOSITION __cdecl DispatchFault(EXCEPTION_RECORD* record, void*, CONTEXT* context, void*) {
  // The second pass (unwinding by a handler further out) only asks frames to clean up.
  if (record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) return ExceptionContinueSearch;
  TFaultFrameHandler handler = frameHandler.load(std::memory_order_acquire);
  return handler != nullptr && handler(record, context) ? ExceptionContinueExecution : ExceptionContinueSearch;
}

}  // namespace

TFaultFrameHandler SetFaultFrameHandler(TFaultFrameHandler handler) noexcept {
  return frameHandler.exchange(handler, std::memory_order_acq_rel);
}

TFaultFrame::TFaultFrame() noexcept
    : next_(reinterpret_cast<TFaultFrame*>(CurrentThreadInformationBlock()->ExceptionList)),
      handler_(reinterpret_cast<void*>(&DispatchFault)) {
  CurrentThreadInformationBlock()->ExceptionList = reinterpret_cast<EXCEPTION_REGISTRATION_RECORD*>(this);
}

TFaultFrame::~TFaultFrame() {
  CurrentThreadInformationBlock()->ExceptionList = reinterpret_cast<EXCEPTION_REGISTRATION_RECORD*>(next_);
}

}  // namespace pelloran
