#include "runtime/safecall.h"

#include <atomic>

#include "base/exceptions.h"

namespace pelloran {

namespace {
std::atomic<TSafeCallErrorProc> safeCallErrorProc{nullptr};
}

__attribute__((noinline)) HRESULT SafeCallInvoke(void (*body)(void*), void* context) noexcept {
  try {
    body(context);
    return S_OK;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

TSafeCallErrorProc SetSafeCallErrorProc(TSafeCallErrorProc proc) noexcept {
  return safeCallErrorProc.exchange(proc, std::memory_order_acq_rel);
}

__attribute__((noinline)) void CheckSafeCallResult(HRESULT result) {
  if (SUCCEEDED(result)) return;
  if (TSafeCallErrorProc proc = safeCallErrorProc.load(std::memory_order_acquire))
    proc(result, __builtin_return_address(0));
  throw ESafecallException("Exception in safecall method", result);
}

}  // namespace pelloran
