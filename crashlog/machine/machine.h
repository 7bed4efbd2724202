#pragma once
// The facts of a report's general section, gathered from the system when the report is composed.
// Each returns its text form (machine_text.h); a fact that cannot be obtained is "", and no fact
// ever raises.

#include "crashlog/infra/diagnostics/diagnostics_exception.h"
#include "crashlog/infra/diagnostics/diagnostics_time.h"
#include "crashlog/infra/diagnostics/version_facts.h"
#include "crashlog/machine/machine_text.h"

#include <string>

namespace pelloran::crashlog {

// --- Time ---------------------------------------------------------------------------------
// The bias of the system's time zone in minutes (UTC = local + bias) in force at `time`, daylight
// saving included.
int SystemTimeZoneBias(const TLocalTime& time);
// A local time in the system's zone, with the zone's offset at that time.
std::string FormatMailDate(const TLocalTime& time);

// --- Application --------------------------------------------------------------------------
// The start time is taken when this part of the reporter is initialised with the program;
// RecordApplicationStartTime takes it again (reporter installation).
void RecordApplicationStartTime();
std::string ApplicationStartDate();

// "Name/Description": the file description of the program, else its file name.
std::string ApplicationNameDescription();
std::string NameDescriptionOf(const std::string& file);
// "Version Number" of the program.
std::string ApplicationVersionNumber();
// "Parameters": the command-line parameters, quoted.
std::string ApplicationParameters();

// --- Exception ----------------------------------------------------------------------------
std::string ExceptionDate(const TLocalTime& captured);
// The file name of the module whose image holds `address`; "" for memory outside any module.
std::string ExceptionModule(const void* address);

// --- Active controls ----------------------------------------------------------------------
std::string ForegroundFormClass();
// The foreground window's title, read without sending it a message.
std::string ForegroundFormText();
std::string ControlClassFact(const std::string& stored);
std::string ControlTextFact(const std::string& stored);

// --- Computer -----------------------------------------------------------------------------
std::string ComputerNameFact();
std::string UserNameFact();
std::string TotalMemoryFact();
std::string FreeMemoryFact();
// Size and free space of the volume that holds the program; both "" when the system cannot say.
std::string TotalDiskFact();
std::string FreeDiskFact();

// --- Operating system ---------------------------------------------------------------------
// The version as read once when the program started.
const TOsVersion& SystemVersion();
std::string OperatingSystemType();
std::string OperatingSystemBuildNumber();
std::string OperatingSystemUpdateText();
// The name of the system's default language, from the installed locales.
std::string OperatingSystemLanguage();

}  // namespace pelloran::crashlog
