#pragma once
// The error dialog and the reproduce-steps dialog: plain dialog boxes from the templates of
// resources/crashlog.rc, run modally with no owner window on the thread that handles the error.
//
// The dialogs work on the values the exception flow hands them (TErrorDialogData) and hand the
// user's decisions back in the same record; ShowErrorDialog / ShowReproduceDialog of the flow
// fill it from the error in progress. No owner window, no message to any other thread's window:
// the dialog is also shown while the watcher holds a frozen main thread stopped.

#include <windows.h>

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "crashlog/capture/report_text.h"
#include "crashlog/delivery/error_dialog_rules.h"
#include "crashlog/infra/debuginfo/stack.h"
#include "crashlog/infra/options/option_stream.h"

namespace pelloran::crashlog {

struct TErrorDialogData {
  // Handed in.
  TCrashOptionValues Options;  // the working option set: texts and switches
  std::string ShortMessage;    // shown collapsed and in the fallback message box
  std::string GeneralText;     // page 0
  std::string CpuText;         // page 3
  std::span<const TCrashDebugInfo> CallStack;  // page 1; its module records must outlive the dialog
  std::vector<TModuleRow> Modules;             // page 2, in registry order
  int ErrorCount = 0;
  bool Duplicate = false;
  bool GuiApplication = true;  // the reproduce-steps dialog is for programs with windows only
  // The terminate button's action handler, run (on the exception's thread) after the dialog
  // closed with the terminate request set; it may clear the request, and the dialog is shown
  // again. None in a program without handlers.
  std::function<void(bool& terminateRequested)> TerminateHandler;
  // Where the templates and pictures are (the module that carries resources/crashlog.rc).
  HINSTANCE ResourceModule = nullptr;  // nullptr: the module that holds this code

  // Handed in and back: the check states (start as SendMode != 0 and AttachScreenshot).
  bool SendRequested = false;
  bool ScreenshotRequested = false;
  // Handed back.
  bool CopyRequested = false;
  bool TerminateRequested = false;
  bool Painted = false;       // the error dialog painted at least once in its last showing
  std::string ReproduceText;  // trimmed; empty when none was asked or typed
};

// Fills the values the options decide: SendRequested = (SendMode != 0), ScreenshotRequested =
// AttachScreenshot.
void SetInitialRequests(TErrorDialogData& data);

// ShowErrorDialog: beeps, runs "DIALOG" (again while the terminate handler clears the request),
// falls back to a message box with the short message when the dialog never painted, and gives
// the foreground back to the window that had it. Never raises: failures become the warning
// eeShowError. Returns whether the dialog was painted.
bool RunErrorDialog(TErrorDialogData& data);

// Whether the reproduce-steps dialog is to be shown: AskReproduceSteps, a program with windows,
// not a duplicate, and the report is mailed or logged.
bool ReproduceDialogWanted(const TErrorDialogData& data);
// ShowReproduceDialog: when wanted, runs "REQUEST" and stores the trimmed text in ReproduceText.
void RunReproduceDialog(TErrorDialogData& data);

// The "Coordinates" keys of "CrashLog.ini" for the expanded dialog. `band` is the check-box
// band of the dialog being shown. Loading also makes the values the remembered ones.
TDialogPlacement LoadDialogPlacement(int band);
// Writes the remembered placement (only once a window size has been remembered).
void SaveDialogPlacement(int band);

// Writes the 2052-byte source location message to the mailslot "\\.\mailslot\CrashLog" of a
// development environment. True when all of it was written; nothing happens without a reader.
bool SendSourceLocationToIde(const std::string& unit, std::int32_t line);

// Window class, ids and names the dialogs use, for code that finds and drives them.
inline constexpr char kErrorDialogTemplate[] = "DIALOG";
inline constexpr char kReproduceDialogTemplate[] = "REQUEST";
inline constexpr char kSmtpDialogTemplate[] = "SMTP";
enum : int {
  kIdOk = 2,
  kIdTerminate = 3,
  kIdDetails = 4,
  kIdMessage = 101,
  kIdTabs = 1000,
  kIdLine = 2000,
  kIdSend = 3000,
  kIdScreenshot = 4000,
  kIdCopy = 5000,
  kIdPageHeader = 102,
  kIdPageContent = 103,
  kIdRequestLabel = 100,
  kIdRequestEdit = 101,
};
inline constexpr UINT_PTR kSelfCloseTimer = 1;

}  // namespace pelloran::crashlog
