#pragma once
// The texts of report mail: base64 lines, address lists, the MIME message the SMTP paths send,
// SMTP dot transparency, and the "mailto:" command line. Pure code: files are read with the C
// library, no platform headers.

#include <cstddef>
#include <istream>
#include <string>
#include <string_view>
#include <vector>

namespace pelloran::crashlog {

// The boundary between the parts of every report mail.
inline constexpr std::string_view kMimeBoundary = "=_xcjvnxkbhvfkxzhfdbvzldjhfv";

// Standard base64, 60 input bytes (80 characters) per line, every line ended by CR LF; an empty
// input gives no line.
std::string Base64EncodeBytes(std::string_view bytes);
std::string Base64EncodeStream(std::istream& stream);
std::string Base64EncodeText(std::string_view text);
// The file's content; empty for an empty path or a file that cannot be read.
std::string Base64EncodeFile(const std::string& path);

// Removes blanks and control characters from both ends, as the reporter's texts are trimmed.
std::string_view TrimText(std::string_view text);
// True when `path` names a file that can be opened for reading.
bool FileExists(const std::string& path);

// Addresses separated by "," or ";", each trimmed, in order; an empty piece between two adjacent
// separators stays as an empty entry; a blank text gives no entry.
std::vector<std::string> SplitAddressList(std::string_view text);

// One attachment part ("" for a blank path or a file that does not exist), and all of a list.
std::string BuildMimeAttachmentPart(const std::string& path);
std::string BuildMimeAttachments(const std::vector<std::string>& paths);

struct TMimeMessage {
  std::string DateText;  // FormatMailDate of the sending time
  std::string Sender;
  std::string Subject;
  std::string Recipient;  // the one recipient of this transmission
  std::string Body;
  std::vector<std::string> Attachments;
};
// The header, the text part and the attachment parts, up to the closing boundary line with its
// CR LF. The SMTP layer sends it through SmtpDataText.
std::string BuildMimeMessage(const TMimeMessage& message);

// The DATA text of SMTP: lines end in CR LF (a lone CR or LF becomes CR LF), every line that
// starts with "." gets a second one (so a report line ".x" keeps its dot and a line "." does not
// end the data), then the end-of-data ".". The command layer adds the final CR LF.
std::string SmtpDataText(std::string_view message);

// --- mailto ---------------------------------------------------------------------------------
// The longest command line CreateProcess accepts, without its terminating zero.
inline constexpr std::size_t kMaxCommandLine = 32766;
// Appended to a body that had to be cut to fit the command line.
inline constexpr std::string_view kMailtoCutNote =
    "\r\n\r\n[The report is cut short here; the full report is in the log file.]";

// RFC 6068 percent-encoding: every byte but the unreserved characters (and `alsoSafe`) as %XX.
std::string MailtoPercentEncode(std::string_view text, std::string_view alsoSafe = {});

struct TMailtoMail {
  std::string Recipients;
  std::string Subject;
  std::string Message;  // MailBody; its "&" characters are dropped
  std::string ReportText;
  std::string ReproduceText;
  std::string CutNote;  // what kMailtoCutNote says after its blank lines; empty: kMailtoCutNote
};
// The body the mail handler gets after the message: the reproduce text (when there is one) and
// the report, each after three blank lines.
std::string MailtoReportBody(const TMailtoMail& mail);
// The command line: `commandTemplate` with every "%1" replaced by the encoded "mailto:" URL. A
// body that would make it longer than `maxLength` is cut (at whole GBK characters) and ends with
// kMailtoCutNote.
std::string MailtoCommandLine(std::string_view commandTemplate, const TMailtoMail& mail,
                              std::size_t maxLength = kMaxCommandLine);

// --- log copy -------------------------------------------------------------------------------
// The temporary folder and the log file's name; empty when the log goes in the mail body. When
// the log itself lies in the temporary folder, the copy is "<name>-copy<extension>": the copy is
// deleted after the mail, and must never be the log.
std::string LogCopyPathFor(std::string_view temporaryFolder, bool logInMailBody, std::string_view outputLogFile);
// `text` as lines each ended by CR LF (a text that ends with a line end gets no extra line).
std::string CrLfLines(std::string_view text);

}  // namespace pelloran::crashlog
