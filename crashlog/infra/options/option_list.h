#pragma once
// The one list of the stored options. The record (option_stream.h), its stored form, the option
// object's getters and setters, Assign and the build tool's options file all come from it; the
// filter pairs and the 71 texts are written by hand where they are used.
//
// X(Type, Name, Default, From, Load, Access), in stream order:
//   From   the first layout that stores the field (0: every one). Up to 454 the field is part of the
//          record; later fields go in the added block after the 71 texts, which older readers skip.
//   Load   how a value stored by an older layout becomes today's value (AsStored: no change).
//   Access Plain: the option object gets the usual setter; Own: it writes its setter by hand.

#include <cstdint>
#include <string>

#include "crashlog/infra/diagnostics/diagnostics_text.h"

namespace pelloran::crashlog {

// Defaults of added texts too long for the list.
inline constexpr std::string_view kRestartRefusedNote =
    "Restart: the program failed again within a minute of its restart; it is not restarted.";
inline constexpr std::string_view kMailtoCutNoteText =
    "[The report is cut short here; the full report is in the log file.]";

}  // namespace pelloran::crashlog

// The record, up to the exceptions filter.
#define PELLORAN_OPTIONS_BEFORE_FILTER(X)                                                 \
  X(bool, Activated, true, 0, AsStored, Plain)                                             \
  X(bool, FilterActive, true, 0, AsStored, Plain)                                          \
  X(std::uint8_t, ReportOptions, 0, 0, AsStored, Plain)                                    \
  X(bool, ShowDialog, true, 0, HideFlagBefore450, Plain)                                   \
  X(bool, LogInMailBody, false, 0, AsStored, Plain)                                        \
  X(bool, SendWholeLog, false, 450, AsStored, Plain)                                       \
  X(bool, AttachScreenshot, false, 450, AsStored, Plain)                                   \
  X(bool, ShowSendProgress, true, 450, AsStored, Plain)                                    \
  X(bool, SaveLog, true, 401, AsStored, Plain)                                             \
  X(std::uint8_t, InitialDialogPage, 0, 401, AsStored, Plain)                              \
  X(bool, CustomDialogLook, true, 403, AsStored, Plain)                                    \
  X(bool, FreezeDetection, false, 420, AsStored, Own)                                      \
  X(std::int32_t, FreezeTimeout, 60, 420, MillisecondsBefore422, Plain)                    \
  X(std::string, FreezeMessage, kDefaultFreezeMessage, 420, AsStored, Plain)               \
  X(std::string, SenderAddress, kDefaultSenderAddress, 450, AsStored, Plain)               \
  X(std::string, SmtpHost, "", 420, AsStored, Plain)                                       \
  X(std::uint16_t, SmtpPort, 25, 450, AsStored, Plain)                                     \
  X(std::string, SmtpUser, "", 421, AsStored, Plain)                                       \
  X(std::string, SmtpPassword, "", 421, AsStored, Plain)                                   \
  X(std::uint8_t, TerminateAction, 1, 421, AsStored, Plain)                                \
  X(bool, ShowTerminateButton, true, 0, AsStored, Plain)                                   \
  X(std::int32_t, MaxLoggedErrors, 32, 0, AsStored, Own)                                   \
  X(std::int32_t, TerminateAfterErrors, 3, 0, AsStored, Plain)                             \
  X(std::string, MailAddresses, "", 0, AsStored, Plain)                                    \
  X(std::string, MailSubject, "", 0, AsStored, Plain)                                      \
  X(std::uint8_t, SendMode, kSendNone, 0, SendFlagBefore450, Plain)                        \
  X(std::uint32_t, ReportFields, 0xFFFFFFFFu, 0, WiderSetBefore450, Plain)                 \
  X(std::string, OutputPath, "", 0, AsStored, Plain)

// The record between the exceptions filter and the 71 texts.
#define PELLORAN_OPTIONS_AFTER_FILTER(X) X(std::string, MailBody, "", 0, AsStored, Plain)

// The added block, in the order of the layouts that brought the fields.
//   Dialog...: what the dialogs show where one of the 71 texts also labels the report (the report
//              keeps that text); empty shows the shared text.
//   the rest: texts of the reporter's windows and notes that had no option; %1, %2 stand for the
//              values put in.
#define PELLORAN_OPTIONS_ADDED(X)                                                         \
  X(bool, SaveMiniDump, false, 455, AsStored, Plain)                                       \
  X(std::string, DialogRequestCaption, "", 455, AsStored, Plain)                           \
  X(std::string, DialogCallStackHeader, "", 455, AsStored, Plain)                          \
  X(std::string, DialogModulesHeader, "", 455, AsStored, Plain)                            \
  X(std::string, DialogStackAddress, "", 455, AsStored, Plain)                             \
  X(std::string, DialogStackModule, "", 455, AsStored, Plain)                              \
  X(std::string, DialogStackUnit, "", 455, AsStored, Plain)                                \
  X(std::string, DialogStackClass, "", 455, AsStored, Plain)                               \
  X(std::string, DialogStackProcedure, "", 455, AsStored, Plain)                           \
  X(std::string, DialogStackLine, "", 455, AsStored, Plain)                                \
  X(std::string, DialogModuleHandle, "", 455, AsStored, Plain)                             \
  X(std::string, DialogModuleName, "", 455, AsStored, Plain)                               \
  X(std::string, DialogModuleDescription, "", 455, AsStored, Plain)                        \
  X(std::string, DialogModuleVersion, "", 455, AsStored, Plain)                            \
  X(std::string, DialogModuleSize, "", 455, AsStored, Plain)                               \
  X(std::string, DialogModulePath, "", 455, AsStored, Plain)                               \
  X(std::string, SmtpErrorMessage, "%1", 455, AsStored, Plain)                             \
  X(std::string, InternalBugCaption, kInternalBugCaption, 455, AsStored, Plain)            \
  X(std::string, InternalBugQuestion, kInternalBugQuestion, 455, AsStored, Plain)          \
  X(std::string, MailClientMissingCaption, kMailClientMissingCaption, 455, AsStored, Plain) \
  X(std::string, MailClientMissingMessage, kMailClientMissingMessage, 455, AsStored, Plain) \
  X(std::string, StackRepeatOneRow, "(the row above, %1 times in all)", 455, AsStored, Plain) \
  X(std::string, StackRepeatRows, "(the %1 rows above, %2 times in all)", 455, AsStored, Plain) \
  X(std::string, StackLeftOutOneRow, "(1 row left out)", 455, AsStored, Plain)             \
  X(std::string, StackLeftOutRows, "(%1 rows left out)", 455, AsStored, Plain)             \
  X(std::string, RestartRefusedNote, kRestartRefusedNote, 455, AsStored, Plain)            \
  X(std::string, MailtoCutNote, kMailtoCutNoteText, 455, AsStored, Plain)

#define PELLORAN_OPTIONS_RECORD(X) PELLORAN_OPTIONS_BEFORE_FILTER(X) PELLORAN_OPTIONS_AFTER_FILTER(X)
#define PELLORAN_OPTIONS(X) PELLORAN_OPTIONS_RECORD(X) PELLORAN_OPTIONS_ADDED(X)
