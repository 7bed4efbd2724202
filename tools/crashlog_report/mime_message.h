#pragma once
// A mail as its decoded leaf parts: multipart bodies are opened at their boundaries, attached
// mails (message/rfc822) are opened in turn, and each leaf's content is decoded from base64 or
// quoted-printable. Mails stored with CR LF or LF line ends both read. Only what finding logs
// needs is read: the content type, the file name of an attachment and the content.

#include <string>
#include <string_view>
#include <vector>

namespace pelloran::crashlog_report {

struct TMailPart {
  std::string ContentType;  // lower case; "text/plain" when the part names none
  std::string FileName;     // of an attachment, encoded words and RFC 2231 pieces decoded
  bool Attachment = false;  // "Content-Disposition: attachment" or a file name
  std::string Content;      // decoded
};

struct TMailReading {
  std::vector<TMailPart> Parts;       // the leaf parts, in the order of the mail
  std::vector<std::string> Problems;  // parts left out: unknown encoding, nesting too deep
};

// False when `bytes` do not begin with a mail header (the input is not a mail); an mbox "From "
// line before the header is allowed.
bool ReadMail(std::string_view bytes, TMailReading& reading);

// Encoded words of a header ("=?utf-8?B?...?=", "=?iso-8859-1?Q?...?="), decoded to their bytes
// (the charset is not converted); blanks between two encoded words are dropped.
std::string DecodeEncodedWords(std::string_view text);

}  // namespace pelloran::crashlog_report
