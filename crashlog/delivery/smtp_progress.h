#pragma once
// The progress window shown while report mail goes out by SMTP. It runs on a thread of its own
// with its own message loop; the sending thread updates it with synchronous messages. Without a
// window (not asked for, or a program without a desktop) every call only keeps the state.

#include <string>

namespace pelloran::crashlog {

struct TSmtpProgressSetup {
  bool Show = false;           // ShowSendProgress, a send mode, and a program with windows
  std::string Caption;         // Texts[53]
  std::string RecipientLabel;  // Texts[54]
};

// The window message that closes the progress window.
inline constexpr unsigned kSmtpProgressCloseMessage = 0x8D2;

// Resets the progress state; with `Show`, opens the window and waits until it is ready.
void StartSmtpProgress(const TSmtpProgressSetup& setup);
// The recipient being served (from 1) and how many there are.
void SetSmtpRecipient(int current, int count);
// The label becomes "<RecipientLabel> <current>/<count>: <text>".
void SetSmtpStatus(const std::string& text);
// 0 to 100.
void SetSmtpProgress(int percent);
// Sends the window its close message and waits for its thread; nothing without a window.
void CloseSmtpProgress();
bool SmtpProgressWindowExists();
// What the label shows now (also without a window), for the tests.
std::string SmtpProgressLabel();

}  // namespace pelloran::crashlog
