// The SMTP progress dialog through its real window: shown on a thread of its own with the painted
// caption, its label and bar set by the sending thread, deaf to Esc and the close message of the
// system, and gone with its thread after the close.
#include "crashlog/delivery/smtp_progress.h"

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cmath>

#include "crashlog/infra/diagnostics/error_code.h"
#include "runtime/scoped_handle.h"
#include "tests/support/window_test_support.h"

namespace pelloran::crashlog {
namespace {

using pelloran::testing::WindowText;

std::string Label(HWND dialog) { return WindowText(::GetDlgItem(dialog, kSmtpProgressLabelId)); }

// The colour of the first gradient step of the painted caption: the start colour with each
// component times 0.96, rounded.
COLORREF FirstGradientStep(int r, int g, int b) {
  auto step = [](int c) { return static_cast<int>(std::lround(c * 0.96)); };
  return RGB(step(r), step(g), step(b));
}

bool ThreadEnded(DWORD threadId) {
  ScopedKernelHandle thread(::OpenThread(SYNCHRONIZE, FALSE, threadId));
  return !thread || ::WaitForSingleObject(thread.get(), 0) == WAIT_OBJECT_0;
}

TEST(SmtpProgress, ShowsTheRecipientAndStateAndClosesOnItsMessageAlone) {
  TSmtpProgressSetup setup;
  setup.Show = true;
  setup.Caption = "SMTP.";
  setup.RecipientLabel = "Message";
  StartSmtpProgress(setup);
  HWND dialog = static_cast<HWND>(SmtpProgressWindow());
  ASSERT_NE(dialog, nullptr);
  EXPECT_TRUE(SmtpProgressOpen());
  ASSERT_TRUE(pelloran::testing::PumpUntil([&] { return ::IsWindowVisible(dialog) != FALSE; }));

  // A dialog of the template, topmost with a tool-window caption, on a thread of its own.
  const DWORD dialogThread = ::GetWindowThreadProcessId(dialog, nullptr);
  EXPECT_NE(dialogThread, ::GetCurrentThreadId());
  char className[16] = {};
  ::GetClassNameA(dialog, className, sizeof className);
  EXPECT_STREQ(className, "#32770");
  EXPECT_EQ(WindowText(dialog), "SMTP.");
  const LONG exStyle = ::GetWindowLongA(dialog, GWL_EXSTYLE);
  EXPECT_TRUE(exStyle & WS_EX_TOPMOST);
  EXPECT_TRUE(exStyle & WS_EX_TOOLWINDOW);
  HWND bar = ::GetDlgItem(dialog, kSmtpProgressBarId);
  char barClass[32] = {};
  ::GetClassNameA(bar, barClass, sizeof barClass);
  EXPECT_STREQ(barClass, PROGRESS_CLASSA);

  // The sending thread's steps, as the mail to the first of two recipients goes out.
  SetSmtpRecipient(1, 2);
  SetSmtpStatus("Connecting with SMTP server...");
  EXPECT_EQ(Label(dialog), "Message 1/2: Connecting with SMTP server...");
  SetSmtpStatus("Sending message...");
  SetSmtpProgress(50);
  EXPECT_EQ(Label(dialog), "Message 1/2: Sending message...");
  EXPECT_EQ(::SendMessageA(bar, PBM_GETPOS, 0, 0), 50);
  SetSmtpRecipient(2, 2);
  SetSmtpStatus("Resolving MX record...");
  EXPECT_EQ(Label(dialog), "Message 2/2: Resolving MX record...");
  EXPECT_EQ(SmtpProgressLabel(), "Message 2/2: Resolving MX record...");

  // The caption band is painted by the dialog: its top row has the gradient's first colour (active
  // or not, whichever the dialog is).
  ::RedrawWindow(dialog, nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE | RDW_UPDATENOW);
  RECT frame{};
  ::GetWindowRect(dialog, &frame);
  const int frameWidth = ::GetSystemMetrics(SM_CXFIXEDFRAME), frameHeight = ::GetSystemMetrics(SM_CYFIXEDFRAME);
  ScopedGetDC screen(nullptr);
  const COLORREF band = ::GetPixel(screen.get(), frame.right - frameWidth - 3, frame.top + frameHeight);
  EXPECT_TRUE(band == FirstGradientStep(130, 154, 194) || band == FirstGradientStep(151, 151, 151))
      << std::hex << band;

  // Esc and the system's close leave it open: only the sender closes it.
  ::SendMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
  ::SendMessageA(dialog, WM_CLOSE, 0, 0);
  EXPECT_TRUE(::IsWindow(dialog));
  EXPECT_TRUE(SmtpProgressWindowExists());

  CloseSmtpProgress();
  EXPECT_FALSE(::IsWindow(dialog));
  EXPECT_FALSE(SmtpProgressWindowExists());
  EXPECT_FALSE(SmtpProgressOpen());
  EXPECT_TRUE(ThreadEnded(dialogThread));
}

TEST(SmtpProgress, WithoutTheDialogOnlyTheStateIsKept) {
  TSmtpProgressSetup setup;
  setup.RecipientLabel = "Message";
  StartSmtpProgress(setup);
  EXPECT_EQ(SmtpProgressWindow(), nullptr);
  SetSmtpRecipient(1, 1);
  SetSmtpStatus("Sending message...");
  SetSmtpProgress(100);
  EXPECT_EQ(SmtpProgressLabel(), "Message 1/1: Sending message...");
  EXPECT_FALSE(SmtpProgressOpen());
  CloseSmtpProgress();
}

}  // namespace
}  // namespace pelloran::crashlog
