// Pelloran's own monitor tick: its first job runs, then the events file beside the program cannot
// be written when the tick starts the next job (the file's name is taken by a folder). The batch
// runner's catch passes the error on with `throw;` and the tick's catch hands it to the
// application's handler. The report shows the write that failed first, then the runner's frames
// down to the tick, and neither the rethrow nor any frame of the handler or the reporter; the
// batch goes on to its end.
// EXIT: 0
// ENTRIES: 1
// LOG: ^  2\.4 Type *: EInOutError\r$
// LOG: ^  2\.5 Message *: I/O error \d+.*blank\.txt\)\.\r$
// LOG_FIRST_STACK_ROW: \|crash_pelloran_tick_error\.exe *\|batch_io\.cpp *\|[^|]*\|[^|]*RaiseInOutError *\| *{line:batch/batch_io.cpp:throw EInOutError(message, code);} *\|
// STACK_ROWS: [|:]RaiseInOutError *\| ;; [|:]WriteWholeFile *\| ;; [|:]WriteEventsFile *\| ;; \|ProcessNext *\| ;; \|Tick *\| ;; \|MonitorTimer *\|
// STACK_NONE: \|ProcessNext *\| *{line:batch/batch_runner.cpp:      throw;} *\|
// NO_REPORTER_ROWS: TTimer *\|Fire *\|
// STDOUT: ^batch ended: 2 rows, the second failed$
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "app/main_form.h"
#include "batch/batch_io.h"
#include "batch/control_files.h"
#include "batch/job_list.h"
#include "tests/crashlog/capture/crash/crash_support.h"
#include "tests/support/window_test_support.h"

using namespace pelloran;

namespace {

void MakeInput(const std::string& path) {
  std::ofstream out(path, std::ios::binary);
  out << "#fake shrink=100\n" << std::string(4000, 'x');
}

}  // namespace

int main() {
  crashlog::InstallReporter();
  const std::string folder = ExeDir();
  const std::string eventsFile = folder + kEventsFileName;
  ::RemoveDirectoryA(eventsFile.c_str());
  ::DeleteFileA(eventsFile.c_str());
  // The stand-in events tool, beside the program as rmevents.exe.
  ::CopyFileA((folder + "fake_rmevents.exe").c_str(), (folder + kEventsToolName).c_str(), FALSE);
  MakeInput(folder + "first.rm");
  MakeInput(folder + "second.rm");

  Application().Initialize();
  Application().SetTitle("Pelloran");
  TMainForm form;
  form.Create();
  form.AddFile(folder + "first.rm");
  form.AddFile(folder + "second.rm");
  form.Show();
  testing::BoxWatcher boxes;  // "all done" is answered with its default button

  TTimer driver(form, 50);
  int step = 0;
  DWORD started = ::GetTickCount();
  driver.SetOnTimer([&] {
    if (step == 0) {
      step = 1;
      // The first job starts inside the click; from then on the events file cannot be written.
      ::SendMessageA(form.btnStart->Handle(), BM_CLICK, 0, 0);
      ::DeleteFileA(eventsFile.c_str());
      ::CreateDirectoryA(eventsFile.c_str(), nullptr);
      return;
    }
    const bool ended = !form.Runner->Running() && form.btnStart->Enabled();
    if (ended || ::GetTickCount() - started > 60000) {
      driver.SetEnabled(false);
      std::printf("batch %s: %d rows, the second %s\n", ended ? "ended" : "did not end", form.Jobs->Count(),
                  form.Jobs->Row(1).Status == kStatusFailed ? "failed" : form.Jobs->Row(1).Status.c_str());
      std::fflush(stdout);
      form.Close();
    }
  });
  driver.SetEnabled(true);
  Application().Run();
  ::RemoveDirectoryA(eventsFile.c_str());
  crashlog::UninstallReporter();
  return 0;
}
