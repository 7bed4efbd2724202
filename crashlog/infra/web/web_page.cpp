#include "crashlog/infra/web/web_page.h"

namespace pelloran::crashlog {

namespace {

void ReplaceAll(std::string& text, std::string_view what, std::string_view with) {
  std::string result;
  result.reserve(text.size());
  std::size_t from = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, from)) {
    result.append(text, from, at - from);
    result += with;
    from = at + what.size();
  }
  result.append(text, from, std::string::npos);
  text = std::move(result);
}

constexpr std::string_view kCrLf = "\r\n";

}  // namespace

std::string HtmlEncode(std::string_view text) {
  std::string result;
  result.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&': result += "&amp;"; break;
      case '<': result += "&lt;"; break;
      case '>': result += "&gt;"; break;
      case '"': result += "&quot;"; break;
      case '\'': result += "&#39;"; break;
      default: result += c;
    }
  }
  return result;
}

std::string HtmlText(std::string_view text) {
  // Entities first: the "<br>" and "&nbsp;" put in afterwards are the page's own markup.
  std::string result = HtmlEncode(text);
  ReplaceAll(result, kCrLf, "<br>");
  ReplaceAll(result, " ", "&nbsp;");
  return result;
}

std::string ErrorPage(std::string_view title, std::string_view text) {
  std::string page = "<html><head><title>";
  page += HtmlEncode(title);
  page += "</title></head><body><p><small><font face=\"Lucida Console,Courier\">";
  page += HtmlText(text);
  page += "</font></small></p></body></html>";
  return page;
}

std::string WebErrorHeader(std::size_t pageLength, bool withStatus) {
  std::string header;
  if (withStatus) header = "Status: 500 Error\r\n";
  header += "Content-Type: text/html\r\nContent-Length: ";
  header += std::to_string(pageLength);
  header += "\r\nContent:\r\n\r\n";
  return header;
}

std::string WebErrorOutput(std::string_view page) {
  std::string output = WebErrorHeader(page.size(), true);
  output += page;
  return output;
}

std::string IntraWebMessageHtml(std::string_view message) {
  std::string result = HtmlEncode(message);
  ReplaceAll(result, " ", "&nbsp;");
  return result;
}

std::string WithCrashLogBlock(std::string_view headers, std::string_view title) {
  std::string text(headers);
  if (text.ends_with(kCrLf)) text.resize(text.size() - kCrLf.size());
  const std::size_t start = text.find(kCrashLogBlockStart);
  if (start != std::string::npos) {
    const std::size_t end = text.find(kCrashLogBlockEnd, start + kCrashLogBlockStart.size());
    if (end != std::string::npos) text.erase(start, end + kCrashLogBlockEnd.size() - start);
  }
  text += kCrashLogBlockStart;
  text +=
      "<style>.BUTNOKCSS {position:absolute;left:8px;top:8px}"
      ".TEXTMESSAGECSS {position:absolute;left:8px;top:41px;FONT-FAMILY: Lucida Console,Courier}</style>"
      "<title>";
  text += HtmlEncode(title);
  text += "</title>";
  text += kCrashLogBlockEnd;
  return text;
}

}  // namespace pelloran::crashlog
