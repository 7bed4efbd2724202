#pragma once
// The texts of the web error output: the HTML page that carries the report, the headers in front
// of it, and the block the reporter keeps in a web framework's HTML headers. Pure text work, free
// of the platform, so that it can be built natively and fuzzed.
//
// Texts are the program's ANSI (GBK) bytes. Every byte replaced here is below 0x40, and no GBK
// trail byte is, so the replacements never cut a double-byte character.

#include <cstddef>
#include <string>
#include <string_view>

namespace pelloran::crashlog {

// The status the error page is sent with, as the ISAPI response-header request takes it.
inline constexpr std::string_view kWebErrorStatus = "500 Error";

inline constexpr std::string_view kCrashLogBlockStart = "<!--crashlog_start-->";
inline constexpr std::string_view kCrashLogBlockEnd = "<!--crashlog_end-->";

// The characters that are markup in HTML ('&', '<', '>', '"', '\'') as entities.
std::string HtmlEncode(std::string_view text);

// `text` for an HTML page: markup characters as entities (a report quotes exception messages and
// control texts, which must not become markup of the page), then every CR LF pair as "<br>" and
// every space as "&nbsp;".
std::string HtmlText(std::string_view text);

// The error page: `title` (encoded) as the page title, HtmlText(text) in a small fixed-width font.
std::string ErrorPage(std::string_view title, std::string_view text);

// The header block in front of a page of `pageLength` bytes, ending in an empty line.
// `withStatus` puts "Status: 500 Error" first, for CGI and WinCGI, whose server takes the status
// from the output; an ISAPI extension hands the status to the server instead.
std::string WebErrorHeader(std::size_t pageLength, bool withStatus);

// What a CGI or WinCGI program puts out: the header with the status, then the page.
std::string WebErrorOutput(std::string_view page);

// The message for the web framework's show-message call, which puts it into the page as it
// stands: markup characters as entities, every space as "&nbsp;".
std::string IntraWebMessageHtml(std::string_view message);

// The framework's HTML headers with the reporter's block (a style for the message and its button,
// and the page title `title`, encoded) at the end, in place of a block left by an earlier call.
// `headers` is the string list's text; its final CR LF is dropped first.
std::string WithCrashLogBlock(std::string_view headers, std::string_view title);

}  // namespace pelloran::crashlog
