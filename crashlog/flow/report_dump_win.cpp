#include "crashlog/flow/report_dump.h"

#include <windows.h>

#include <atomic>

#include "crashlog/capture/freeze.h"
#include "crashlog/capture/minidump.h"
#include "crashlog/capture/minidump_file.h"
#include "crashlog/infra/diagnostics/trace.h"
#include "crashlog/infra/options/options.h"

namespace pelloran::crashlog {

bool DumpRequested(const TCrashModuleOptions& options) { return options.SaveMiniDump(); }

void WriteReportDump(TErrorInProgress& error) noexcept {
  try {
    if (!DumpRequested(error.Options)) return;
    // Numbers the reports of this process: two in one second get two names.
    static std::atomic<std::uint32_t> reports{0};
    const std::string logFile = error.Options.OutputLogFile();
    TMiniDumpRequest request;
    request.Path = DumpFileName(logFile, error.Capture.CaptureTime, ::GetCurrentProcessId(), ++reports);
    // A freeze is reported by the watcher: the dump names the stopped main thread.
    const DWORD frozen = FrozenThreadId();
    request.ThreadId = frozen != 0 ? frozen : error.Params.ThreadID;
    request.Context = error.Params.Context;
    request.ExceptionAddress = error.Address;
    const TExceptNotifyParams& params = error.Params;
    request.StackBase = params.StackEnd;
    if (params.Mode.Handled) {
      // The program goes on after its own report: its dump shows the threads where they stand,
      // the reporting thread at its call (the report's text keeps the raise's stack).
      request.Context = nullptr;
    } else if (params.StackOrigin != 0 && params.StackEnd > params.StackStart) {
      // The stack as it stood at the raise, copied then: it reaches up to the stack base.
      request.StackCopy = reinterpret_cast<const std::uint8_t*>(params.StackStart);
      request.StackCopySize = params.StackEnd - params.StackStart;
      request.StackOrigin = params.StackOrigin;
      request.StackBase = params.StackOrigin + request.StackCopySize;
    }
    const TMiniDumpResult written = WriteMiniDump(request);
    if (!written.Written) return;
    error.Capture.Added.DumpFile = request.Path;
    RemoveOldDumps(logFile, error.Options.MaxLoggedErrors());
  } catch (...) {
    // A dump that cannot be written leaves the report as it was without it.
  }
}

}  // namespace pelloran::crashlog
