#pragma once
// Report mail through the user's own mail client: Simple MAPI of the default client, or a
// "mailto:" URL handed to the registered mail handler. Failures are recorded as warnings
// (eeEmailMAPIError, eeEmailShellError) and give false; nothing raises.

#include "crashlog/delivery/mail_text.h"

#include <string>
#include <vector>

namespace pelloran::crashlog {

// At most this many files go with a MAPI message.
inline constexpr std::size_t kMaxMapiAttachments = 32;

// True when the mail was handed to the mail client. Attachments that are empty or missing are
// left out.
bool SendByMapi(const std::string& recipients, const std::string& subject, const std::string& body,
                const std::vector<std::string>& attachments);

// True when the registered mail handler was started with the mail as a "mailto:" URL; its main
// window is then brought to the top, maximised.
bool SendByMailto(const TMailtoMail& mail);

// Sends one file to `recipient` through the mail client (the reporter's own bug mail).
bool SendBugMail(const std::string& recipient, const std::string& subject, const std::string& body,
                 const std::string& attachment);

}  // namespace pelloran::crashlog
