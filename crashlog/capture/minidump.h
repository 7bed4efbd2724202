#pragma once
// Writing the minidump of a report: the system's writer with the exception's registers, then the
// memory it leaves out added by the reporter (minidump_file.h), and the removal of a log's oldest
// dumps.

#include <cstdint>
#include <string>

namespace pelloran::crashlog {

struct TMiniDumpRequest {
  std::string Path;
  // The thread the exception stream names, and its registers (a 204-byte x86 CONTEXT): for a C++
  // exception those kept at the raise, for a fault the processor's, for a freeze the stopped main
  // thread's. No context: the dump shows the threads as they stand.
  std::uint32_t ThreadId = 0;
  const void* Context = nullptr;
  std::uint32_t ExceptionCode = 0;
  std::uintptr_t ExceptionAddress = 0;
  // A copy of that thread's stack taken at the raise: [StackCopy, StackCopy + StackCopySize) as
  // it lay at StackOrigin before the handlers' frames overwrote it. StackOrigin 0: none.
  const std::uint8_t* StackCopy = nullptr;
  std::size_t StackCopySize = 0;
  std::uintptr_t StackOrigin = 0;
  std::uintptr_t StackBase = 0;  // that thread's stack base; 0: unknown
};

struct TMiniDumpResult {
  bool Written = false;
  std::uint64_t Size = 0;
  double Milliseconds = 0;  // from the start of the system's writer to the file complete
};

// The dump of this process. A failure leaves no file behind.
TMiniDumpResult WriteMiniDump(const TMiniDumpRequest& request);

// Removes the dumps of `logFile` beyond the newest `keep`.
void RemoveOldDumps(const std::string& logFile, int keep);

}  // namespace pelloran::crashlog
