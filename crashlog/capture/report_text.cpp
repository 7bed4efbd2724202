#include "crashlog/capture/report_text.h"

#include "base/ansi_path.h"
#include "base/byte_stream_le.h"
#include "base/hex_text.h"
#include "crashlog/capture/call_stack_text.h"
#include "crashlog/capture/log_item.h"
#include "crashlog/machine/machine_text.h"
#include "crashlog/infra/diagnostics/crashlog_version.h"
#include "crashlog/infra/options/option_texts.h"

#include <algorithm>
#include <cstdio>

namespace pelloran::crashlog {

namespace {

constexpr std::string_view kCrLf = "\r\n";

using enum TCrashText;

// The columns of the two tables, in order.
constexpr std::array<TCrashText, 6> kCallStackColumns = {StackAddressColumn, StackModuleColumn,    StackUnitColumn,
                                                         StackClassColumn,   StackProcedureColumn, StackLineColumn};
constexpr std::array<TCrashText, 6> kModuleColumns = {ModuleHandleColumn,  ModuleNameColumn, ModuleDescriptionColumn,
                                                      ModuleVersionColumn, ModuleSizeColumn, ModulePathColumn};

// Report field bits of the Active Controls items.
constexpr int kFirstActiveControlsBit = 9;
constexpr int kLastActiveControlsBit = 12;

// The label of each report field of the general section, in field order.
constexpr std::array<TCrashText, kReportFieldCount> kFieldLabels = {
    StartDateLabel,    NameLabel,          VersionNumberLabel, ParametersLabel,   DateLabel,
    AddressLabel,      ModuleLabel,        TypeLabel,          MessageLabel,      FormClassLabel,
    FormTextLabel,     ControlClassLabel,  ControlTextLabel,   ComputerNameLabel, UserLabel,
    TotalMemoryLabel,  FreeMemoryLabel,    TotalDiskLabel,     FreeDiskLabel,     SystemTypeLabel,
    BuildLabel,        UpdateLabel,        LanguageLabel};

// A table of six columns: "|cell|cell|...|" rows under a header between rules of "-".
class TTable {
 public:
  TTable(const TCrashOptionValues& options, const std::array<TCrashText, 6>& columns, std::size_t firstColumnMinimum) {
    for (int c = 0; c < 6; ++c) {
      header_[c] = TextOf(options, columns[c]);
      width_[c] = header_[c].size();
    }
    width_[0] = std::max(width_[0], firstColumnMinimum);
  }

  void AddRow(std::array<std::string, 6> cells) {
    for (int c = 0; c < 6; ++c) width_[c] = std::max(width_[c], cells[c].size());
    rows_.push_back(std::move(cells));
  }

  // Title line, rule, header, rule, the rows, rule; no line end after the last rule.
  void AppendTo(std::string& text, std::string_view title) const {
    std::size_t ruleLength = 7;
    for (std::size_t width : width_) ruleLength += width;
    const std::string rule(ruleLength, '-');
    text.append(title).append(":").append(kCrLf).append(rule).append(kCrLf);
    AppendRow(text, header_);
    text.append(kCrLf).append(rule);
    for (const auto& row : rows_) {
      text.append(kCrLf);
      AppendRow(text, row);
    }
    text.append(kCrLf).append(rule);
  }

 private:
  void AppendRow(std::string& text, const std::array<std::string, 6>& cells) const {
    text.append("|");
    for (int c = 0; c < 6; ++c) text.append(PadRight(cells[c], width_[c])).append("|");
  }

  std::array<std::string, 6> header_;
  std::array<std::size_t, 6> width_{};
  std::vector<std::array<std::string, 6>> rows_;
};

bool ShowsInCallStack(const TCrashDebugInfo& entry) {
  return entry.LocationKind == kLocationExport || entry.LocationKind == kLocationExportUnit ||
         entry.LocationKind == kLocationDebugInfo;
}

std::string DumpLines(const TMemoryDump& dump) {
  std::string text;
  for (std::size_t line = 0; line < 16; ++line) {
    const std::uint32_t slot = static_cast<std::uint32_t>(dump.StackStart + 4 * line);
    const std::uint32_t code = static_cast<std::uint32_t>(dump.CodeAddress + 16 * line);
    text.append(Hex8(slot)).append(": ").append(Hex8(PeekU32(dump.Stack, 4 * line))).append("   ");
    text.append(Hex8(code)).append(": ");
    std::string characters;
    for (std::size_t i = 0; i < 16; ++i) {
      const std::uint8_t byte = dump.Code[16 * line + i];
      char hex[4];
      std::snprintf(hex, sizeof hex, "%02X ", byte);
      text.append(hex);
      characters.push_back(byte < 32 || byte > 126 ? '.' : static_cast<char>(byte));
    }
    text.append(" ").append(characters).append(kCrLf);
  }
  return text;
}

}  // namespace

TGeneralText ComposeGeneralText(const TCrashOptionValues& options, const TGeneralInputs& inputs) {
  const TGeneralFacts& facts = inputs.Facts;
  const TExceptionValues& exception = inputs.Exception;
  TGeneralText general;
  general.Duplicate.Address = ExceptionAddressText(exception.Address);
  general.Duplicate.Module = facts.ExceptionModule;
  general.Duplicate.Type = ExceptionTypeFact(exception.TypeOverride, exception.Object);
  general.Duplicate.Message = ControlCharsToSpaces(ExceptionMessageFact(exception.MessageOverride, exception.Object));

  // The values of the report fields, in field order.
  const std::array<const std::string*, kReportFieldCount> values = {
      &facts.StartDate,        &facts.NameDescription,        &facts.VersionNumber,       &facts.Parameters,
      &facts.ExceptionDate,    &general.Duplicate.Address,    &general.Duplicate.Module,  &general.Duplicate.Type,
      &general.Duplicate.Message, &facts.FormClass,           &facts.FormText,            &facts.ControlClass,
      nullptr,                 &facts.ComputerName,           &facts.UserName,            &facts.TotalMemory,
      &facts.FreeMemory,       &facts.TotalDisk,              &facts.FreeDisk,            &facts.OsType,
      &facts.OsBuild,          &facts.OsUpdate,               &facts.OsLanguage};
  const std::string controlText = ControlCharsToSpaces(facts.ControlText);
  constexpr std::array<int, 5> kFirstFieldOfSection = {0, 4, 9, 13, 19};
  constexpr std::array<TCrashText, 5> kSectionHeaders = {ApplicationSection, ExceptionSection, ActiveControlsSection,
                                                         ComputerSection, OperatingSystemSection};

  TLogItem item;
  for (std::size_t section = 0; section < kSectionHeaders.size(); ++section) {
    item.AddSection(TextOf(options, kSectionHeaders[section]));
    const int end = section + 1 < kFirstFieldOfSection.size() ? kFirstFieldOfSection[section + 1] : kReportFieldCount;
    for (int field = kFirstFieldOfSection[section]; field < end; ++field) {
      bool enabled = (options.ReportFields >> field & 1u) != 0;
      if (field >= kFirstActiveControlsBit && field <= kLastActiveControlsBit) enabled = enabled && inputs.GuiApplication;
      const std::string& value = values[static_cast<std::size_t>(field)] ? *values[static_cast<std::size_t>(field)] : controlText;
      item.AddItem(TextOf(options, kFieldLabels[static_cast<std::size_t>(field)]), value, enabled);
    }
  }
  // Their own sections, numbered 6 and 7 whichever is there: an empty Tags section before Files
  // is left out by Finish; none is added at the end, where it would leave its empty line behind.
  const TAddedFacts& added = inputs.Added;
  const bool files = !added.DumpFile.empty() || !added.Files.empty();
  if (!added.Tags.empty() || files) {
    item.AddSection(kTagsSection);
    for (const auto& [name, value] : added.Tags) item.AddItem(ControlCharsToSpaces(name), ControlCharsToSpaces(value), true);
  }
  if (files) {
    item.AddSection(kFilesSection);
    if (!added.DumpFile.empty()) item.AddItem(kDumpLabel, ControlCharsToSpaces(added.DumpFile), true);
    for (const std::string& file : added.Files) item.AddItem(kFileLabel, ControlCharsToSpaces(file), true);
  }
  general.Text.append(kCrashLogTitle).append(kCrLf).append(kCrLf).append(item.Finish());
  return general;
}

std::optional<TReportRegisters> RegistersFromContext(std::span<const std::uint8_t> context) {
  if (context.size() < kX86ContextSize || PeekU32(context, 0) == 0) return std::nullopt;
  TReportRegisters registers;
  registers.Edi = PeekU32(context, 0x9C);
  registers.Esi = PeekU32(context, 0xA0);
  registers.Ebx = PeekU32(context, 0xA4);
  registers.Edx = PeekU32(context, 0xA8);
  registers.Ecx = PeekU32(context, 0xAC);
  registers.Eax = PeekU32(context, 0xB0);
  registers.Eip = PeekU32(context, 0xB8);
  registers.Esp = PeekU32(context, 0xC4);
  return registers;
}

std::string ComposeCpuText(const TCrashOptionValues& options, const TCpuInputs& inputs) {
  auto reg = [&](std::uint32_t TReportRegisters::* field) {
    return inputs.Registers ? Hex8((*inputs.Registers).*field) : std::string("????");
  };
  std::string text;
  text.append(TextOf(options, RegistersHeader)).append(":").append(kCrLf);
  text.append(29, '-').append(kCrLf);
  text.append("EAX: ").append(reg(&TReportRegisters::Eax)).append("   EDI: ").append(reg(&TReportRegisters::Edi)).append(kCrLf);
  text.append("EBX: ").append(reg(&TReportRegisters::Ebx)).append("   ESI: ").append(reg(&TReportRegisters::Esi)).append(kCrLf);
  text.append("ECX: ").append(reg(&TReportRegisters::Ecx)).append("   ESP: ").append(reg(&TReportRegisters::Esp)).append(kCrLf);
  text.append("EDX: ").append(reg(&TReportRegisters::Edx)).append("   EIP: ").append(reg(&TReportRegisters::Eip)).append(kCrLf);
  text.append(kCrLf);
  text.append(PadRight(TextOf(options, StackHeader) + ":", 21)).append(TextOf(options, MemoryDumpHeader)).append(":").append(kCrLf);
  text.append(18, '-').append(3, ' ').append(75, '-').append(kCrLf);
  if (inputs.Dump) text.append(DumpLines(*inputs.Dump));
  return text;
}

std::string ComposeListsText(const TCrashOptionValues& options, std::span<const TCrashDebugInfo> callStack,
                             std::span<const TModuleRow> modules) {
  std::vector<const TCrashDebugInfo*> shown;
  std::vector<std::uint32_t> addresses;
  for (const TCrashDebugInfo& entry : callStack) {
    if (!ShowsInCallStack(entry)) continue;
    shown.push_back(&entry);
    addresses.push_back(entry.Address);
  }
  // Recursions folded and a long stack cut; a fold row says so in the procedure cell.
  TTable stack(options, kCallStackColumns, 8);
  for (const TStackTableRow& row : FoldStackRows(addresses)) {
    if (row.Kind != TStackTableRow::TKind::Frame) {
      stack.AddRow({"", "", "", "", FoldRowText(row, options), ""});
      continue;
    }
    const TCrashDebugInfo& entry = *shown[row.Frame];
    stack.AddRow({Hex8(entry.Address), entry.Module ? std::string(AnsiFileNamePart(entry.Module->FileName)) : std::string(),
                  StackCellText(entry.UnitName), StackCellText(entry.ClassName), StackCellText(entry.ProcedureName),
                  entry.Line != 0 ? std::to_string(entry.Line) : std::string()});
  }
  // The handle column is 8 wide, or as wide as a longer header, so that the rows stay under it.
  TTable table(options, kModuleColumns, 8);
  for (const TModuleRow& row : modules)
    table.AddRow({Hex8(static_cast<std::uint32_t>(row.Handle)), row.Name, row.Description, row.Version,
                  std::to_string(row.FileSize), row.Folder});

  std::string text;
  stack.AppendTo(text, TextOf(options, CallStackHeader));
  text.append(kCrLf).append(kCrLf);
  table.AppendTo(text, TextOf(options, ModulesHeader));
  return text;
}

std::string JoinReport(std::string_view generalText, std::string_view listsText, std::string_view cpuText) {
  std::string report;
  report.reserve(generalText.size() + listsText.size() + cpuText.size() + 6);
  report.append(generalText).append(kCrLf).append(listsText).append(kCrLf).append(kCrLf).append(cpuText);
  return report;
}

std::string PageIntro(const TCrashOptionValues& options) {
  return TextOf(options, ErrorIntro) + std::string(kCrLf) + std::string(kCrLf);
}

}  // namespace pelloran::crashlog
