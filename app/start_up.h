#pragma once
// Pelloran's start-up, from installing the crash reporter to the end of the message loop. The
// program runs it with its main window; a test build may run it with a window of its own kind.

#include "app/program_arguments.h"
#include "crashlog/flow/install.h"
#include "runtime/application.h"

namespace pelloran {

template <class MainForm>
int RunPelloran() {
  // Before the first window: from here on every error nobody handles becomes a report.
  crashlog::InstallReporter();
  Application().Initialize();
  Application().SetTitle("Pelloran");
  MainForm form;
  form.Create();
  // Files and folders named on the command line (dropped on the program's icon, "Open with")
  // are listed as if they had been dropped on the window.
  form.AddPaths(ProgramArguments());
  form.Show();
  Application().Run();
  crashlog::UninstallReporter();
  return 0;
}

}  // namespace pelloran
