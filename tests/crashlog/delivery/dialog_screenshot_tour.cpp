// Shows the error dialog for a report of this program's own (a made-up access violation with its
// real call stack, modules and machine facts): collapsed with the system's look and with the
// custom look, each expanded page, the reproduce-steps dialog and the SMTP progress dialog; saves
// a picture of each as a BMP file in the folder given on the command line (scripts/screenshots.sh
// makes the PNG files).
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <string>

#include "crashlog/capture/report_gather.h"
#include "crashlog/capture/report_state.h"
#include "crashlog/delivery/error_dialog_window.h"
#include "crashlog/delivery/smtp_progress.h"
#include "crashlog/infra/debuginfo/stack.h"
#include "crashlog/infra/diagnostics/diagnostics_time.h"
#include "runtime/scoped_handle.h"
#include "tests/crashlog/delivery/dialog_driver.h"
#include "tests/support/window_picture.h"
#include "tests/support/window_test_support.h"

namespace {

using namespace pelloran;
using namespace pelloran::crashlog;

// A report of this program as the pipeline would compose it, for an access violation here.
TErrorDialogData MakeReport(TCrashModulesList& modules, TCrashStackList& stack, TReportState& report) {
  CONTEXT context{};
  context.ContextFlags = CONTEXT_FULL;
  ::RtlCaptureContext(&context);
  std::uintptr_t stackBase;
  asm volatile("movl %%fs:4, %0" : "=r"(stackBase));  // NT_TIB.StackBase
  stack = StackScan(modules, context.Eip, context.Esp, stackBase - 4);

  TCrashOptionValues options;
  options.SendMode = kSendMailClient;
  options.AttachScreenshot = true;
  options.ReportOptions = kAskReproduceSteps;
  TReportCapture capture;
  capture.Exception.Object.HasObject = true;
  capture.Exception.Object.ClassName = "EAccessViolation";
  capture.Exception.Object.IsException = true;
  capture.Exception.Object.HasMessage = true;
  capture.Exception.Object.Message = "Access violation at address 00000000. Read of address 00000000";
  capture.Exception.Address = context.Eip;
  capture.CaptureTime = LocalTimeNow();
  capture.StackStart = context.Esp;
  capture.Context = &context;
  capture.ControlClass = "SysListView32";
  report.BuildReport(options, GatherReportInputs(capture, options, stack, modules));

  TErrorDialogData data;
  data.Options = options;
  data.ShortMessage = capture.Exception.Object.Message + ".";
  data.GeneralText = report.GeneralText;
  data.CpuText = report.CpuText;
  data.CallStack = stack;
  data.Modules = ModuleRows(modules);
  data.ErrorCount = 4;
  SetInitialRequests(data);
  return data;
}

// A made-up chain of the batch's work, so that the call stack page has something to show.
TErrorDialogData ReadMediaHeader(TCrashModulesList& modules, TCrashStackList& stack, TReportState& report) {
  return MakeReport(modules, stack, report);
}
TErrorDialogData OpenMediaFile(TCrashModulesList& modules, TCrashStackList& stack, TReportState& report) {
  return ReadMediaHeader(modules, stack, report);
}
TErrorDialogData StartBatch(TCrashModulesList& modules, TCrashStackList& stack, TReportState& report) {
  return OpenMediaFile(modules, stack, report);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: crashlog_dialog_tour OUTPUT_FOLDER\n");
    return 2;
  }
  const std::string out = std::string(argv[1]) + "\\";
  // The pictures show the dialog as it first opens: no placement or column widths kept.
  char windows[MAX_PATH] = {};
  ::GetWindowsDirectoryA(windows, MAX_PATH);
  ::DeleteFileA((std::string(windows) + "\\CrashLog.ini").c_str());
  TCrashModulesList& modules = CreateCrashModules();
  TCrashStackList stack;
  TReportState report;
  int failures = 0;
  auto shoot = [&](HWND window, const char* name) {
    ::Sleep(700);
    if (!window || !testing::SaveWindowPicture(window, out + name)) {
      std::fprintf(stderr, "could not capture %s\n", name);
      ++failures;
    }
  };
  auto click = [](HWND dialog, int id) {
    ::SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(::GetDlgItem(dialog, id)));
  };

  for (const bool custom : {false, true}) {
    TErrorDialogData data = StartBatch(modules, stack, report);
    data.Options.CustomDialogLook = custom;
    testing::TDialogThread run([&] { RunErrorDialog(data); });
    HWND dialog = run.WaitForWindow();
    shoot(dialog, custom ? "error-dialog-custom-look.bmp" : "error-dialog-collapsed.bmp");
    if (!custom && dialog) {
      // Expanded, the system's look has a sizing frame with the close and maximise boxes.
      click(dialog, kIdDetails);
      shoot(dialog, "error-dialog-expanded-system-look.bmp");
      click(dialog, kIdDetails);
    }
    if (custom && dialog) {
      click(dialog, kIdDetails);
      // Wide enough for the call stack's procedure names, as a user would drag it.
      ::SetWindowPos(dialog, nullptr, 140, 200, 1000, 460, SWP_NOZORDER);
      HWND tabs = ::GetDlgItem(dialog, kIdTabs);
      const char* pages[] = {"error-dialog-general.bmp", "error-dialog-call-stack.bmp", "error-dialog-modules.bmp",
                             "error-dialog-cpu.bmp"};
      for (int page = 0; page < 4; ++page) {
        RECT r{};
        ::SendMessageA(tabs, TCM_GETITEMRECT, static_cast<WPARAM>(page), reinterpret_cast<LPARAM>(&r));
        testing::ClickAt(tabs, {(r.left + r.right) / 2, (r.top + r.bottom) / 2});
        shoot(dialog, pages[page]);
      }
    }
    if (dialog) ::PostMessageA(dialog, WM_COMMAND, kIdOk, 0);
  }

  TErrorDialogData data = StartBatch(modules, stack, report);
  data.Options.CustomDialogLook = true;
  testing::TDialogThread run([&] { RunReproduceDialog(data); });
  HWND request = run.WaitForWindow();
  if (request) {
    const char typed[] = "Dropped two .rmvb files on the window,\r\npressed the start button while the first was being cleaned.";
    ::SetDlgItemTextA(request, kIdRequestEdit, typed);
  }
  shoot(request, "reproduce-dialog.bmp");
  if (request) ::PostMessageA(request, WM_COMMAND, kIdOk, 0);
  run.Join();

  // The progress of report mail going out by SMTP, half-way through the first of two recipients.
  TSmtpProgressSetup progress;
  progress.Show = true;
  progress.Caption = "SMTP.";
  progress.RecipientLabel = "Message";
  StartSmtpProgress(progress);
  SetSmtpRecipient(1, 2);
  SetSmtpStatus("Sending message...");
  SetSmtpProgress(60);
  shoot(static_cast<HWND>(SmtpProgressWindow()), "smtp-progress-dialog.bmp");
  CloseSmtpProgress();
  DestroyCrashModules();
  return failures == 0 ? 0 : 1;
}
