#pragma once
// The safecall convention of COM-style methods: a method never lets an exception out, its failure
// becomes an error result, and the caller that checks the result raises an exception again.

#include <windows.h>

#include <memory>
#include <type_traits>

namespace pelloran {

// Runs body(context); an exception that escapes it ends here and gives E_UNEXPECTED. Its frame is
// the one the crash reporter knows as the safecall handler, so it must stay a function of its own.
HRESULT SafeCallInvoke(void (*body)(void*), void* context) noexcept;

template <typename F>
HRESULT SafeCall(F&& body) noexcept {
  using Body = std::remove_reference_t<F>;
  return SafeCallInvoke([](void* p) { (*static_cast<Body*>(p))(); },
                        const_cast<void*>(static_cast<const void*>(std::addressof(body))));
}

// Called with a failed result before the caller raises; the crash reporter sets it to turn the
// failure of an exception it already reported into a silent one. Returns the previous procedure.
using TSafeCallErrorProc = void (*)(HRESULT result, const void* callerAddress);
TSafeCallErrorProc SetSafeCallErrorProc(TSafeCallErrorProc proc) noexcept;

// The caller's side: a failed result calls the error procedure (which may raise an exception of
// its own) and then raises ESafecallException with the result.
void CheckSafeCallResult(HRESULT result);

}  // namespace pelloran
