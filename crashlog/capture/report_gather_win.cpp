#include "crashlog/capture/report_gather.h"

#include "crashlog/infra/debuginfo/modules.h"
#include "crashlog/infra/debuginfo/modules_memory.h"
#include "crashlog/infra/web/web.h"
#include "crashlog/machine/fact_guard.h"
#include "crashlog/machine/machine.h"

#include <windows.h>

#include <cstddef>

namespace pelloran::crashlog {

// The pure reader takes the context by these offsets.
static_assert(sizeof(CONTEXT) >= kX86ContextSize && offsetof(CONTEXT, ExtendedRegisters) == kX86ContextSize);
static_assert(offsetof(CONTEXT, Edi) == 0x9C && offsetof(CONTEXT, Eax) == 0xB0 && offsetof(CONTEXT, Eip) == 0xB8 &&
              offsetof(CONTEXT, Esp) == 0xC4);

namespace {

bool FieldOn(std::uint32_t reportFields, int field) { return (reportFields >> field & 1u) != 0; }

// Copies memory that the system reports readable; the copy runs under a fault frame of its own,
// so that memory released by another thread since the check fails the read instead of faulting
// in the reporter.
template <std::size_t N>
bool ReadChecked(std::uintptr_t address, std::array<std::uint8_t, N>& out) {
  return IsReadable(address, N) && ReadOwnMemory(address, out.data(), N);
}

}  // namespace

TGeneralInputs GatherGeneralInputs(const TReportCapture& capture, std::uint32_t reportFields) {
  TGeneralInputs inputs;
  inputs.Exception = capture.Exception;
  inputs.Added = capture.Added;
  try {
    inputs.GuiApplication = IsGUIApplication();
  } catch (...) {
    inputs.GuiApplication = false;  // unknown kind of program: no window facts
  }
  TGeneralFacts& facts = inputs.Facts;
  auto gather = [&](int field, std::string& fact, auto read) {
    if (FieldOn(reportFields, field)) fact = Fact(read);
  };
  gather(0, facts.StartDate, [] { return ApplicationStartDate(); });
  gather(1, facts.NameDescription, [] { return ApplicationNameDescription(); });
  gather(2, facts.VersionNumber, [] { return ApplicationVersionNumber(); });
  gather(3, facts.Parameters, [] { return ApplicationParameters(); });
  gather(4, facts.ExceptionDate, [&] { return ExceptionDate(capture.CaptureTime); });
  facts.ExceptionModule = ExceptionModule(reinterpret_cast<const void*>(capture.Exception.Address));
  if (inputs.GuiApplication) {
    gather(9, facts.FormClass, [] { return ForegroundFormClass(); });
    gather(10, facts.FormText, [] { return ForegroundFormText(); });
    facts.ControlClass = ControlClassFact(capture.ControlClass);
    facts.ControlText = ControlTextFact(capture.ControlText);
  }
  gather(13, facts.ComputerName, [] { return ComputerNameFact(); });
  gather(14, facts.UserName, [] { return UserNameFact(); });
  gather(15, facts.TotalMemory, [] { return TotalMemoryFact(); });
  gather(16, facts.FreeMemory, [] { return FreeMemoryFact(); });
  gather(17, facts.TotalDisk, [] { return TotalDiskFact(); });
  gather(18, facts.FreeDisk, [] { return FreeDiskFact(); });
  gather(19, facts.OsType, [] { return OperatingSystemType(); });
  gather(20, facts.OsBuild, [] { return OperatingSystemBuildNumber(); });
  gather(21, facts.OsUpdate, [] { return OperatingSystemUpdateText(); });
  gather(22, facts.OsLanguage, [] { return OperatingSystemLanguage(); });
  return inputs;
}

std::optional<TMemoryDump> ReadMemoryDump(std::uintptr_t stackStart, std::uintptr_t codeAddress) {
  TMemoryDump dump;
  dump.StackStart = stackStart;
  dump.CodeAddress = codeAddress;
  if (!ReadChecked(stackStart, dump.Stack) || !ReadChecked(codeAddress, dump.Code)) return std::nullopt;
  return dump;
}

TCpuInputs GatherCpuInputs(const TReportCapture& capture) {
  TCpuInputs inputs;
  if (capture.Context != nullptr)
    inputs.Registers = RegistersFromContext({static_cast<const std::uint8_t*>(capture.Context), kX86ContextSize});
  inputs.Dump = ReadMemoryDump(capture.StackStart, capture.Exception.Address);
  if (inputs.Dump && capture.StackOrigin != 0) inputs.Dump->StackStart = capture.StackOrigin;
  return inputs;
}

std::vector<TModuleRow> ModuleRows(const TCrashModulesList& modules) {
  std::vector<TModuleRow> rows;
  rows.reserve(static_cast<std::size_t>(modules.Count()));
  for (int i = 0; i < modules.Count(); ++i) {
    const TCrashModuleInfo& module = modules[i];
    rows.push_back({module.Handle, FileNameOf(module.FileName), module.Description, module.Version, module.FileSize,
                    ModuleFolder(module)});
  }
  return rows;
}

TReportInputs GatherReportInputs(const TReportCapture& capture, const TCrashOptionValues& options,
                                 std::span<const TCrashDebugInfo> callStack, const TCrashModulesList& modules) {
  TReportInputs inputs;
  inputs.General = GatherGeneralInputs(capture, options.ReportFields);
  inputs.Cpu = GatherCpuInputs(capture);
  inputs.CallStack = callStack;
  inputs.Modules = ModuleRows(modules);
  return inputs;
}

}  // namespace pelloran::crashlog
