#pragma once
// Texts shown in the main window's panes.

#include <string>

namespace pelloran {

// The help page: fourteen lines.
std::string HelpText();
// What the log pane shows before the first batch.
std::string WelcomeLogText();
// The tip under the job list: three lines.
std::string DropTipText();

}  // namespace pelloran
