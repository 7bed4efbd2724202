#pragma once
// The error dialog shown for a report in a program with windows.

namespace pelloran::crashlog {

// Shows the current error (the flow's ShortMessage and report) and returns when the user closed
// it; the check boxes and buttons set the flow's request flags. True when it was shown.
bool ShowErrorDialog();
// Asks the user what led to the error; the trimmed answer becomes the report's ReproduceText.
void ShowReproduceDialog();

}  // namespace pelloran::crashlog
