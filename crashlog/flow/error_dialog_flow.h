#pragma once
// The error dialog and the reproduce-steps dialog, shown for the error in progress.

#include "crashlog/flow/error_in_progress.h"

namespace pelloran::crashlog {

// Shows `error` (its ShortMessage and report) and returns when the user closed it; the check
// boxes and buttons set the error's request flags. True when it was shown.
bool ShowErrorDialog(TErrorInProgress& error);
// Asks the user what led to the error; the trimmed answer becomes the report's ReproduceText.
void ShowReproduceDialog(TErrorInProgress& error);

}  // namespace pelloran::crashlog
