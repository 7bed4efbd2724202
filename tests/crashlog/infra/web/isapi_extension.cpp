// An ISAPI extension that fails on every request and sends the report found in the request body
// as the error page. Its entry point records the control block as the reporter's hook does. The
// query string picks how the page is written:
//   (empty)         on the request's thread
//   "worker"        by one worker thread on behalf of the request's thread, while a second one,
//                   which serves no request, must find no control block
// The entry point answers HSE_STATUS_SUCCESS when the writes went as expected.

#include "crashlog/infra/diagnostics/error_code.h"
#include "crashlog/infra/web/web.h"

#include <cstring>
#include <string>
#include <thread>

using namespace pelloran::crashlog;

namespace {

DWORD lastRequestThread = 0;
std::string lastWarning;

std::string PageOf(const EXTENSION_CONTROL_BLOCK& block) {
  return ErrorPage("Error.", std::string(reinterpret_cast<const char*>(block.lpbData), block.cbAvailable));
}

bool WriteFromWorkers(const std::string& page) {
  const DWORD requestThread = GetCurrentThreadId();
  bool forRequest = false;
  bool forNobody = true;
  std::thread([&] { forRequest = WriteWebError(page, requestThread); }).join();
  std::thread([&] { forNobody = WriteWebError(page); }).join();
  return forRequest && !forNobody;
}

}  // namespace

extern "C" {

BOOL WINAPI GetExtensionVersion(HSE_VERSION_INFO* version) {
  version->dwExtensionVersion = MAKELONG(HSE_VERSION_MINOR, HSE_VERSION_MAJOR);
  std::strcpy(version->lpszExtensionDesc, "Pelloran web error probe");
  return IsISAPI() && IsWebApplication() && !IsGUIApplication();
}

DWORD WINAPI HttpExtensionProc(EXTENSION_CONTROL_BLOCK* block) {
  TServerECBScope request(block);
  lastRequestThread = GetCurrentThreadId();
  ClearLastError();
  const std::string page = PageOf(*block);
  const bool ok = std::strcmp(block->lpszQueryString, "worker") == 0 ? WriteFromWorkers(page) : WriteWebError(page);
  lastWarning = LastErrorMessage();
  return ok ? HSE_STATUS_SUCCESS : HSE_STATUS_ERROR;
}

// The last request's thread writes again after the request has ended: its block is gone.
BOOL WebProbeWriteAfterRequest() { return WriteWebError("<html></html>", lastRequestThread); }

const char* WebProbeLastWarning() { return lastWarning.c_str(); }

}  // extern "C"
