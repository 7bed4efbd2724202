#pragma once
// The texts of the message boxes that diagnostics shows itself: the SMTP failure while the
// progress window is open, the question about an internal bug and the note when no mail client
// takes the bug mail. The options hold them, one layer up; the reporter hands them down whenever
// the option set in use changes. Until then they are the English defaults.

#include <string>

#include "crashlog/infra/diagnostics/diagnostics_text.h"

namespace pelloran::crashlog {

struct TWindowTexts {
  std::string ErrorCaption{"Error."};
  std::string SmtpErrorMessage{"%1"};  // %1 the warning's message
  std::string InternalBugCaption{kInternalBugCaption};
  std::string InternalBugQuestion{kInternalBugQuestion};
  std::string MailClientMissingCaption{kMailClientMissingCaption};
  std::string MailClientMissingMessage{kMailClientMissingMessage};
};

void SetWindowTexts(TWindowTexts texts);
TWindowTexts WindowTexts();

}  // namespace pelloran::crashlog
