#pragma once
// The report text, composed from values already gathered: the labels of the working option set,
// the general-section facts, the exception, the registers and memory read at capture, the call
// stack and the module list. Pure (no platform headers), so that every layout rule can be
// checked on recorded inputs; report_gather.h reads the live values.
//
// The text is a byte string in the ANSI code page (GBK) with CR LF line ends. Column widths
// count bytes, which for GBK are the columns a fixed-width font gives them (see log_item.h).

#include "crashlog/infra/debuginfo/stack.h"
#include "crashlog/infra/diagnostics/diagnostics_exception.h"
#include "crashlog/infra/options/option_stream.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace pelloran::crashlog {

// The facts of the general section in their text forms, except those of the exception.
struct TGeneralFacts {
  std::string StartDate;
  std::string NameDescription;
  std::string VersionNumber;
  std::string Parameters;
  std::string ExceptionDate;
  std::string ExceptionModule;  // file name of the module holding the exception address
  std::string FormClass;
  std::string FormText;
  std::string ControlClass;  // as captured
  std::string ControlText;   // as captured (masked for password boxes)
  std::string ComputerName;
  std::string UserName;
  std::string TotalMemory;
  std::string FreeMemory;
  std::string TotalDisk;
  std::string FreeDisk;
  std::string OsType;
  std::string OsBuild;
  std::string OsUpdate;
  std::string OsLanguage;
};

// The exception as the pipeline keeps it, with the Type and Message that a peer module
// published (empty when none).
struct TExceptionValues {
  TExceptionObjectInfo Object;
  std::uintptr_t Address = 0;
  std::string TypeOverride;
  std::string MessageOverride;
};

// What the program and the reporter add to a report after the general section: the program's
// named facts (tags) and the files that go with the report.
struct TAddedFacts {
  std::vector<std::pair<std::string, std::string>> Tags;  // name, value
  std::string DumpFile;                                    // the minidump written for the report
  std::vector<std::string> Files;                          // files the program attaches
};
inline constexpr std::string_view kTagsSection = "Tags";
inline constexpr std::string_view kFilesSection = "Files";
inline constexpr std::string_view kDumpLabel = "Minidump";
inline constexpr std::string_view kFileLabel = "File";

struct TGeneralInputs {
  TGeneralFacts Facts;
  TExceptionValues Exception;
  TAddedFacts Added;
  // The Active Controls items are shown only in programs with windows (neither a web
  // application nor a console program).
  bool GuiApplication = true;
};

// The values by which a logged error is recognised again, exactly as the general section
// writes them: items 2.2 to 2.5.
struct TDuplicateValues {
  std::string Address;
  std::string Module;
  std::string Type;
  std::string Message;
  bool operator==(const TDuplicateValues&) const = default;
};
inline constexpr std::array<std::string_view, 4> kDuplicateKeys = {"2.2", "2.3", "2.4", "2.5"};

struct TGeneralText {
  std::string Text;  // "CrashLog 4.5.4", an empty line, the general section
  TDuplicateValues Duplicate;
};
TGeneralText ComposeGeneralText(const TCrashOptionValues& options, const TGeneralInputs& inputs);

// The registers a report shows, from a captured x86 thread context.
struct TReportRegisters {
  std::uint32_t Eax = 0, Ebx = 0, Ecx = 0, Edx = 0, Esi = 0, Edi = 0, Esp = 0, Eip = 0;
};
// The 204-byte x86 context layout (ContextFlags at 0, EDI at 0x9C ... ESP at 0xC4). Nothing when
// it is shorter or ContextFlags is 0 (nothing was captured).
inline constexpr std::size_t kX86ContextSize = 204;
std::optional<TReportRegisters> RegistersFromContext(std::span<const std::uint8_t> context);

// Memory read at capture: 16 stack slots from the stack start, and 256 bytes from the exception
// address.
struct TMemoryDump {
  std::uintptr_t StackStart = 0;
  std::uintptr_t CodeAddress = 0;
  std::array<std::uint8_t, 64> Stack{};
  std::array<std::uint8_t, 256> Code{};
};

struct TCpuInputs {
  std::optional<TReportRegisters> Registers;  // none: no captured context ("????")
  std::optional<TMemoryDump> Dump;            // none: either range was unreadable (no dump lines)
};
std::string ComposeCpuText(const TCrashOptionValues& options, const TCpuInputs& inputs);

// One row of the module table, from the module registry.
struct TModuleRow {
  std::uintptr_t Handle = 0;
  std::string Name;  // file name without folder
  std::string Description;
  std::string Version;
  std::uint32_t FileSize = 0;
  std::string Folder;  // without its final "\", except for a drive root
};

// The call stack table (entries located no better than their module are left out), an empty
// line, the module table.
std::string ComposeListsText(const TCrashOptionValues& options, std::span<const TCrashDebugInfo> callStack,
                             std::span<const TModuleRow> modules);

std::string JoinReport(std::string_view generalText, std::string_view listsText, std::string_view cpuText);

// What the console and web outputs put before the report: the ErrorIntro text and an empty line.
std::string PageIntro(const TCrashOptionValues& options);

// Everything a report is made of.
struct TReportInputs {
  TGeneralInputs General;
  TCpuInputs Cpu;
  std::span<const TCrashDebugInfo> CallStack;
  std::vector<TModuleRow> Modules;
};

}  // namespace pelloran::crashlog
