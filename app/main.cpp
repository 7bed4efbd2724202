// Pelloran: start-up.
#include <windows.h>

#include "app/main_form.h"
#include "crashlog/capture/install.h"
#include "runtime/application.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  using namespace pelloran;
  // Before the first window: from here on every error nobody handles becomes a report.
  crashlog::InstallReporter();
  Application().Initialize();
  Application().SetTitle("Pelloran");
  TForm1 form;
  form.Create();
  // Files named on the command line (dropped on the program's icon, "Open with") are listed
  // as if they had been dropped on the window.
  for (int i = 1; i < __argc; ++i) form.AddFile(__argv[i]);
  form.Show();
  Application().Run();
  crashlog::UninstallReporter();
  return 0;
}
