#pragma once
// Installing the crash reporter when the program starts, before any window exists, and removing
// it when the program ends.

namespace pelloran::crashlog {

// True when the reporter became active: the program carries its debug information. Without it
// the reporter stays inactive and its hooks only pass calls on. Safe to call more than once.
bool InstallReporter();
void UninstallReporter();

}  // namespace pelloran::crashlog
