#pragma once
// The safecall convention of COM-style methods: a method never lets an exception out, its failure
// becomes an error result (with the error's description, source and help text kept for the
// caller, as COM's error information keeps them), and the caller that checks the result raises
// an exception again.

#include <windows.h>

#include <memory>
#include <string>
#include <type_traits>

#include "base/exceptions.h"

namespace pelloran {

// The errors of COM calls. EOleException carries what the failed call left as its error
// information: the description (the message), the result code, the source and the help text.
PELLORAN_EXCEPTION_CLASS(EOleError, Exception);
class EOleException : public EOleError {
 public:
  EOleException(std::string message, HRESULT errorCode, std::string source, std::string helpFile,
                int helpContext = 0)
      : EOleError(std::move(message)),
        ErrorCode(errorCode),
        Source(std::move(source)),
        HelpFile(std::move(helpFile)),
        HelpContext(helpContext) {}
  static const TClassInfo& StaticClassInfo() noexcept;
  const TClassInfo& ClassInfo() const noexcept override { return StaticClassInfo(); }
  HRESULT ErrorCode;
  std::string Source;
  std::string HelpFile;
  int HelpContext;
};

// Runs body(context); an exception that escapes it ends here and gives its error result: an
// EOleException's own code, E_UNEXPECTED for anything else; its description, source and help
// text become the calling thread's error information. Its frame is the one the crash reporter
// knows as the safecall handler, so it must stay a function of its own.
HRESULT SafeCallInvoke(void (*body)(void*), void* context) noexcept;

template <typename F>
HRESULT SafeCall(F&& body) noexcept {
  using Body = std::remove_reference_t<F>;
  return SafeCallInvoke([](void* p) { (*static_cast<Body*>(p))(); },
                        const_cast<void*>(static_cast<const void*>(std::addressof(body))));
}

// The error information a failed call leaves for its caller (COM's SetErrorInfo): a COM object
// outside the program's safecall methods sets it before it returns its error result.
void SetSafeCallErrorInfo(std::string description, std::string source, std::string helpFile, int helpContext = 0);

// Called with a failed result before the caller raises; the crash reporter sets it to turn the
// failure of an exception it already reported into a silent one. Returns the previous procedure.
using TSafeCallErrorProc = void (*)(HRESULT result, const void* callerAddress);
TSafeCallErrorProc SetSafeCallErrorProc(TSafeCallErrorProc proc) noexcept;

// The caller's side: a failed result calls the error procedure (which may raise an exception of
// its own) and then raises the failure again: an EOleException with the error information the
// call left, or ESafecallException when it left none.
void CheckSafeCallResult(HRESULT result);

}  // namespace pelloran
