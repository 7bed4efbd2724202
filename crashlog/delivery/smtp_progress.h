#pragma once
// The "SMTP sending..." progress dialog shown while report mail goes out by SMTP. It runs the
// "SMTP" template modally on a thread of its own (TSMTPThread) with the error dialog's fonts and
// caption; the sending thread updates it with synchronous messages. Without a dialog (not asked
// for, or a program without a desktop) every call only keeps the state.

#include <string>

namespace pelloran::crashlog {

struct TSmtpProgressSetup {
  bool Show = false;           // ShowSendProgress, a send mode, and a program with windows
  std::string Caption;         // the SMTP caption text
  std::string RecipientLabel;  // the recipient label text
  bool CustomLook = true;      // CustomDialogLook: the painted caption of the error dialog
};

// The window message that closes the progress dialog.
inline constexpr unsigned kSmtpProgressCloseMessage = 0x8D2;
// The template's controls.
inline constexpr int kSmtpProgressLabelId = 100;
inline constexpr int kSmtpProgressBarId = 101;

// Resets the progress state; with `Show`, starts the dialog's thread and returns once the dialog
// is up (or could not be made).
void StartSmtpProgress(const TSmtpProgressSetup& setup);
// The recipient being served (from 1) and how many there are.
void SetSmtpRecipient(int current, int count);
// The label becomes "<RecipientLabel> <current>/<count>: <text>".
void SetSmtpStatus(const std::string& text);
// 0 to 100.
void SetSmtpProgress(int percent);
// Sends the dialog its close message and waits for its thread; nothing without a dialog.
void CloseSmtpProgress();
bool SmtpProgressWindowExists();
// The dialog's window; nullptr without one.
void* SmtpProgressWindow();
// What the label shows now (also without a dialog), for the tests.
std::string SmtpProgressLabel();

}  // namespace pelloran::crashlog
