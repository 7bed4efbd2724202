#pragma once
// The report the web probes put out, and the page it must become, written out by hand: markup
// characters as entities, CR LF as <br>, spaces as &nbsp;, Chinese bytes untouched.

#include <string_view>

namespace pelloran::testing {

inline constexpr std::string_view kProbeTitle = "Error.";
inline constexpr std::string_view kProbeReport =
    "Exception: EAccessViolation\r\n"
    "Message: 错误 <b>\"bad\" & 'worse'</b>\r\n"
    "  indented";
inline constexpr std::string_view kProbePage =
    "<html><head><title>Error.</title></head><body><p><small><font face=\"Lucida Console,Courier\">"
    "Exception:&nbsp;EAccessViolation<br>"
    "Message:&nbsp;错误&nbsp;&lt;b&gt;&quot;bad&quot;&nbsp;&amp;&nbsp;&#39;worse&#39;&lt;/b&gt;<br>"
    "&nbsp;&nbsp;indented"
    "</font></small></p></body></html>";

}  // namespace pelloran::testing
