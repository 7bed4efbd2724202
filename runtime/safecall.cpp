#include "runtime/safecall.h"

#include <atomic>

namespace pelloran {

const TClassInfo& EOleException::StaticClassInfo() noexcept {
  static const TClassInfo info{"EOleException", &EOleError::StaticClassInfo()};
  return info;
}

namespace {

std::atomic<TSafeCallErrorProc> safeCallErrorProc{nullptr};

struct TErrorInfo {
  bool Set = false;
  std::string Description, Source, HelpFile;
  int HelpContext = 0;
};
thread_local TErrorInfo errorInfo;

}  // namespace

void SetSafeCallErrorInfo(std::string description, std::string source, std::string helpFile, int helpContext) {
  errorInfo = TErrorInfo{true, std::move(description), std::move(source), std::move(helpFile), helpContext};
}

__attribute__((noinline)) HRESULT SafeCallInvoke(void (*body)(void*), void* context) noexcept {
  try {
    body(context);
    return S_OK;
  } catch (const EOleException& error) {
    errorInfo = TErrorInfo{true, error.Message(), error.Source, error.HelpFile, error.HelpContext};
    return error.ErrorCode;
  } catch (const Exception& error) {
    errorInfo = TErrorInfo{true, error.Message(), {}, {}, 0};
    return E_UNEXPECTED;
  } catch (...) {
    errorInfo = TErrorInfo{};
    return E_UNEXPECTED;
  }
}

TSafeCallErrorProc SetSafeCallErrorProc(TSafeCallErrorProc proc) noexcept {
  return safeCallErrorProc.exchange(proc, std::memory_order_acq_rel);
}

// Kept in one piece (no cold part split off for the raises): the crash reporter recognises a
// raise from here by this function's code range.
__attribute__((noinline, optimize("no-reorder-blocks-and-partition"))) void CheckSafeCallResult(HRESULT result) {
  if (SUCCEEDED(result)) return;
  TErrorInfo info = std::move(errorInfo);
  errorInfo = TErrorInfo{};
  if (TSafeCallErrorProc proc = safeCallErrorProc.load(std::memory_order_acquire))
    proc(result, __builtin_return_address(0));
  if (info.Set && !info.Description.empty())
    throw EOleException(info.Description, result, info.Source, info.HelpFile, info.HelpContext);
  throw ESafecallException("Exception in safecall method", result);
}

}  // namespace pelloran
