#pragma once
// Installing the crash reporter when the program starts, before any window exists, and removing
// it when the program ends.

namespace pelloran::crashlog {

// True when the reporter became active: the program carries its debug information. Without it
// the reporter stays inactive and its hooks only pass calls on. Safe to call more than once.
bool InstallReporter();
void UninstallReporter();

// The framework's top-level handler found by name and hooked; false when it is not present.
bool HookFrameworkHandlers();

}  // namespace pelloran::crashlog
