// Pelloran's own window with the error dialog over it: the program as Pelloran.exe starts it (the
// reporter installed with Pelloran's options and debug information), a few jobs listed, and an
// I/O error in a timer tick of its window (a control file written into a folder that does not
// exist). A "user" thread photographs the window with the dialog collapsed and with the call
// stack page open, presses OK, and answers the request for the steps. Saves BMP files in the
// folder given on the command line (scripts/screenshots.sh makes the PNG files).
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <string>
#include <thread>

#include "app/main_form.h"
#include "batch/batch_io.h"
#include "crashlog/flow/install.h"
#include "crashlog/delivery/error_dialog_window.h"
#include "runtime/application.h"
#include "tests/support/window_test_support.h"
#include "tests/support/window_picture.h"

namespace {

using namespace pelloran;
using namespace pelloran::testing;

__attribute__((noinline)) void WriteControlFiles(const std::string& folder) {
  WriteWholeFile(folder + "blank.txt", "events\r\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: pelloran_error_tour OUTPUT_FOLDER\n");
    return 2;
  }
  const std::string out = std::string(argv[1]) + "\\";
  // The dialog as it first opens: no placement kept from an earlier run.
  char windows[MAX_PATH] = {};
  ::GetWindowsDirectoryA(windows, MAX_PATH);
  ::DeleteFileA((std::string(windows) + "\\CrashLog.ini").c_str());

  crashlog::InstallReporter();
  Application().Initialize();
  Application().SetTitle("Pelloran");
  TMainForm form;
  form.Create();
  form.AddFile("D:\\Movies\\weekend.rmvb");
  form.AddFile("D:\\Movies\\news.rm");
  form.AddFile("E:\\Music\\old-song.ra");
  form.Jobs->SetStatus(0, "成功处理 - 文件长度减少：20480");
  form.Jobs->SetStatus(1, "正在处理...");
  form.ggProgress->SetMaxValue(100);
  form.ggProgress->SetProgress(45);
  // In the middle of the screen, where the dialog opens.
  RECT frame{};
  ::GetWindowRect(form.Handle(), &frame);
  const int width = frame.right - frame.left, height = frame.bottom - frame.top;
  ::SetWindowPos(form.Handle(), nullptr, (::GetSystemMetrics(SM_CXSCREEN) - width) / 2,
                 (::GetSystemMetrics(SM_CYSCREEN) - height) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER);

  int failures = 0;
  std::thread user([&] {
    auto shoot = [&](const char* name) {
      ::Sleep(700);
      if (!testing::SaveWindowPicture(form.Handle(), out + name)) {
        std::fprintf(stderr, "could not capture %s\n", name);
        ++failures;
      }
    };
    if (HWND dialog = WaitForDialog("错误")) {
      shoot("pelloran-error-dialog.bmp");
      ClickControl(dialog, crashlog::kIdDetails);
      HWND tabs = ::GetDlgItem(dialog, crashlog::kIdTabs);
      RECT r{};
      ::SendMessageA(tabs, TCM_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&r));
      ClickAt(tabs, {(r.left + r.right) / 2, (r.top + r.bottom) / 2});
      shoot("pelloran-error-details.bmp");
      ClickControl(dialog, crashlog::kIdOk);
    } else {
      std::fprintf(stderr, "no error dialog\n");
      ++failures;
    }
    if (HWND request = WaitForDialog("重现步骤")) {
      ::SetDlgItemTextA(request, crashlog::kIdRequestEdit, "按了开始按钮。");
      ClickControl(request, crashlog::kIdOk);
    } else {
      std::fprintf(stderr, "no request dialog\n");
      ++failures;
    }
    // The main thread drops what it is sent until the report is done (after its dialogs close):
    // ask again until the window has gone.
    const HWND window = form.Handle();
    for (int i = 0; i < 150 && ::IsWindow(window); ++i) {
      ::PostMessageA(window, WM_CLOSE, 0, 0);
      ::Sleep(200);
    }
  });

  TTimer tick(form, 500);
  tick.SetOnTimer([&] {
    tick.SetEnabled(false);
    WriteControlFiles(ExeDir() + "no such folder\\");
  });
  tick.SetEnabled(true);
  form.Show();
  ::SetForegroundWindow(form.Handle());
  Application().Run();
  user.join();
  crashlog::UninstallReporter();
  return failures == 0 ? 0 : 1;
}
