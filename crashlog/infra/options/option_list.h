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
#define PELLORAN_OPTIONS_ADDED(X)                                                         \
  X(bool, SaveMiniDump, false, 455, AsStored, Plain)

#define PELLORAN_OPTIONS_RECORD(X) PELLORAN_OPTIONS_BEFORE_FILTER(X) PELLORAN_OPTIONS_AFTER_FILTER(X)
#define PELLORAN_OPTIONS(X) PELLORAN_OPTIONS_RECORD(X) PELLORAN_OPTIONS_ADDED(X)
