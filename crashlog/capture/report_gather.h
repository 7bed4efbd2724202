#pragma once
// Gathering the live values of a report at the moment it is composed: the machine facts, the
// registers of the captured context, the memory at the stack start and at the exception address
// (read only where the system reports it committed and readable), and the module registry's rows.

#include "crashlog/capture/report_text.h"
#include "crashlog/infra/diagnostics/diagnostics_time.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace pelloran::crashlog {

class TCrashModulesList;

// What the pipeline captured with the exception.
struct TReportCapture {
  TExceptionValues Exception;
  TLocalTime CaptureTime;
  std::string ControlClass;
  std::string ControlText;
  std::uintptr_t StackStart = 0;
  // StackStart lies in a copy of the stack taken at the raise: where the copy starts in the
  // thread's stack, the address the dump shows; 0 when StackStart is in the stack itself.
  std::uintptr_t StackOrigin = 0;
  const void* Context = nullptr;  // the thread's 204-byte x86 context (CONTEXT), or none
  TAddedFacts Added;
};

// Facts of fields that ReportFields switches off are not gathered (they are not written); the
// exception's own values always are, as the duplicate test needs them. The Active Controls facts
// are gathered only in a program with windows (IsGUIApplication).
TGeneralInputs GatherGeneralInputs(const TReportCapture& capture, std::uint32_t reportFields);
TCpuInputs GatherCpuInputs(const TReportCapture& capture);
// The 64 bytes at `stackStart` and the 256 at `codeAddress`; none unless both are readable.
std::optional<TMemoryDump> ReadMemoryDump(std::uintptr_t stackStart, std::uintptr_t codeAddress);
// Every registered module, in registry order.
std::vector<TModuleRow> ModuleRows(const TCrashModulesList& modules);

TReportInputs GatherReportInputs(const TReportCapture& capture, const TCrashOptionValues& options,
                                 std::span<const TCrashDebugInfo> callStack, const TCrashModulesList& modules);

}  // namespace pelloran::crashlog
