#pragma once
// Names for the option set's 71 texts (TCrashOptionValues::Texts), in their stored order: the
// order is the OptionStream's, so an entry never moves.

#include <cstddef>
#include <string>

#include "crashlog/infra/diagnostics/window_texts.h"
#include "crashlog/infra/options/option_stream.h"

namespace pelloran::crashlog {

enum class TCrashText : int {
  InformationCaption,  // 0
  QuestionCaption,
  ErrorCaption,
  ErrorIntro,  // "An error has occurred during program execution. ..."
  GeneralTab,
  GeneralHeader,
  CallStackTab,
  CallStackHeader,
  ModulesTab,
  ModulesHeader,
  CpuTab,  // 10
  CpuHeader,
  OkButton,
  TerminateButton,
  RestartButton,
  DetailsButton,
  SendCheck,
  ScreenshotCheck,
  CopyCheck,
  ApplicationSection,
  StartDateLabel,  // 20
  NameLabel,
  VersionNumberLabel,
  ParametersLabel,
  ExceptionSection,
  DateLabel,
  AddressLabel,
  ModuleLabel,
  TypeLabel,
  MessageLabel,
  ActiveControlsSection,  // 30
  FormClassLabel,
  FormTextLabel,
  ControlClassLabel,
  ControlTextLabel,
  ComputerSection,
  ComputerNameLabel,
  UserLabel,
  TotalMemoryLabel,
  FreeMemoryLabel,
  TotalDiskLabel,  // 40
  FreeDiskLabel,
  OperatingSystemSection,
  SystemTypeLabel,
  BuildLabel,
  UpdateLabel,
  LanguageLabel,
  StackAddressColumn,
  StackModuleColumn,
  StackUnitColumn,
  StackClassColumn,  // 50
  StackProcedureColumn,
  StackLineColumn,
  SmtpCaption,
  SmtpRecipientLabel,
  SmtpResolvingStatus,
  SmtpConnectingStatus,
  SmtpConnectedStatus,
  SmtpSendingStatus,
  RequestCaption,
  RequestLabel,  // 60
  RequestOkButton,
  ModuleHandleColumn,
  ModuleNameColumn,
  ModuleDescriptionColumn,
  ModuleVersionColumn,
  ModuleSizeColumn,
  ModulePathColumn,
  RegistersHeader,
  StackHeader,
  MemoryDumpHeader,  // 70
};
static_assert(static_cast<int>(TCrashText::MemoryDumpHeader) + 1 == kTextCount);

inline const std::string& TextOf(const TCrashOptionValues& values, TCrashText text) {
  return values.Texts[static_cast<std::size_t>(text)];
}

// What a dialog shows for `text`: where the text also labels the report, the dialog's own text
// of the added block when it is set.
const std::string& WindowTextOf(const TCrashOptionValues& values, TCrashText text);

// The texts of diagnostics' own message boxes, from an option set.
TWindowTexts WindowTextsOf(const TCrashOptionValues& values);

}  // namespace pelloran::crashlog
