#pragma once
// The content transfer encodings of mail parts, decoded leniently: what a mail client may write
// (line breaks anywhere, blanks at line ends, lower-case hexadecimal) decodes, and bytes that
// belong to no encoding never stop the decoder.

#include <string>
#include <string_view>

namespace pelloran::crashlog_report {

// Base64: characters outside the alphabet (line breaks, blanks, padding) are skipped; a last group
// of two or three characters gives its one or two whole bytes.
std::string DecodeBase64(std::string_view text);

// Quoted-printable: "=XX" is the byte XX, "=" at a line end joins the lines, blanks before a line
// end are dropped (mail relays may add them), every hard line break becomes CR LF (reports are CR
// LF text, whether the mail was stored with CR LF or LF line ends), and an "=" that starts no
// escape stays as it is.
std::string DecodeQuotedPrintable(std::string_view text);

// CR LF line ends: a lone LF or CR becomes CR LF (a mail stored with LF line ends, as a Maildir
// holds it).
std::string CrLfLineEnds(std::string_view text);

}  // namespace pelloran::crashlog_report
