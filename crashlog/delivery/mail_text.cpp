#include "crashlog/delivery/mail_text.h"

#include "base/ansi_path.h"
#include "base/text_lines.h"
#include "crashlog/infra/diagnostics/crashlog_version.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <memory>

namespace pelloran::crashlog {

namespace {

constexpr char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::size_t kBase64LineInput = 60;  // 20 groups, 80 characters

void AppendBase64Line(std::string& out, const unsigned char* in, std::size_t count) {
  for (std::size_t i = 0; i < count; i += 3) {
    const std::size_t left = count - i;
    const unsigned b0 = in[i], b1 = left > 1 ? in[i + 1] : 0, b2 = left > 2 ? in[i + 2] : 0;
    out += kBase64Alphabet[b0 >> 2];
    out += kBase64Alphabet[((b0 & 3) << 4) | (b1 >> 4)];
    out += left > 1 ? kBase64Alphabet[((b1 & 15) << 2) | (b2 >> 6)] : '=';
    out += left > 2 ? kBase64Alphabet[b2 & 63] : '=';
  }
  out += "\r\n";
}

struct FileCloser {
  void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};
using ScopedFile = std::unique_ptr<std::FILE, FileCloser>;

bool IsUnreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
         c == '_' || c == '~';
}

std::size_t EncodedLength(unsigned char c, std::string_view alsoSafe) {
  return IsUnreserved(c) || alsoSafe.find(static_cast<char>(c)) != std::string_view::npos ? 1 : 3;
}

std::string ReplaceAll(std::string_view text, std::string_view what, std::string_view with) {
  std::string result;
  std::size_t from = 0;
  for (std::size_t at; (at = text.find(what, from)) != std::string_view::npos; from = at + what.size()) {
    result.append(text.substr(from, at - from));
    result.append(with);
  }
  result.append(text.substr(from));
  return result;
}

std::size_t CountOf(std::string_view text, std::string_view what) {
  std::size_t count = 0;
  for (std::size_t at = 0; (at = text.find(what, at)) != std::string_view::npos; at += what.size()) ++count;
  return count;
}

// Addresses may keep their own separators and "@"; everything else is encoded.
constexpr std::string_view kAddressSafe = "@,;";

}  // namespace

std::string Base64EncodeBytes(std::string_view bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4 + (bytes.size() / kBase64LineInput + 1) * 2);
  const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
  for (std::size_t at = 0; at < bytes.size(); at += kBase64LineInput)
    AppendBase64Line(out, in + at, std::min(kBase64LineInput, bytes.size() - at));
  return out;
}

std::string Base64EncodeStream(std::istream& stream) {
  const std::string bytes((std::istreambuf_iterator<char>(stream)), std::istreambuf_iterator<char>());
  return Base64EncodeBytes(bytes);
}

std::string Base64EncodeText(std::string_view text) { return Base64EncodeBytes(text); }

std::string Base64EncodeFile(const std::string& path) {
  if (path.empty()) return {};
  ScopedFile file(std::fopen(path.c_str(), "rb"));
  if (!file) return {};
  std::string bytes;
  char buffer[65536];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file.get())) > 0;) bytes.append(buffer, n);
  return Base64EncodeBytes(bytes);
}

std::string_view TrimText(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ') text.remove_prefix(1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ') text.remove_suffix(1);
  return text;
}

bool FileExists(const std::string& path) {
  if (path.empty()) return false;
  return ScopedFile(std::fopen(path.c_str(), "rb")) != nullptr;
}

std::vector<std::string> SplitAddressList(std::string_view text) {
  std::vector<std::string> list;
  std::string rest(TrimText(text));
  if (!rest.empty() && rest.back() != ',' && rest.back() != ';') rest += ',';
  std::size_t from = 0;
  for (std::size_t at; (at = rest.find_first_of(",;", from)) != std::string::npos; from = at + 1)
    list.emplace_back(TrimText(std::string_view(rest).substr(from, at - from)));
  return list;
}

std::string BuildMimeAttachmentPart(const std::string& path) {
  if (TrimText(path).empty() || !FileExists(path)) return {};
  const std::string name(AnsiFileNamePart(path));
  const std::string type = AsciiUpper(ExtractExtension(path)) == ".PNG" ? "image/png" : "application/octet-stream";
  std::string part;
  part += "\r\n--";
  part += kMimeBoundary;
  part += "\r\nContent-Type: " + type + ";\r\n";
  part += "        name=\"" + name + "\"\r\n";
  part += "Content-Transfer-Encoding: base64\r\n";
  part += "Content-Disposition: attachment;\r\n";
  part += "        filename=\"" + name + "\"\r\n";
  part += "\r\n";
  part += Base64EncodeFile(path);
  return part;
}

std::string BuildMimeAttachments(const std::vector<std::string>& paths) {
  std::string parts;
  for (const std::string& path : paths) parts += BuildMimeAttachmentPart(path);
  return parts;
}

std::string BuildMimeMessage(const TMimeMessage& message) {
  std::string text;
  text += "Date: " + message.DateText + "\r\n";
  text += "From: <" + message.Sender + ">\r\n";
  text += "Subject: " + message.Subject + "\r\n";
  text += "To: <" + message.Recipient + ">\r\n";
  text += "Content-Type: multipart/mixed; boundary=\"";
  text += kMimeBoundary;
  text += "\";\r\nMIME-Version: 1.0\r\n";
  text += "X-Priority: 1\r\n";
  text += "X-Library: CrashLog ";
  text += kCrashLogVersion;
  text += "\r\n\r\n";
  text += "This is a multi-part message in MIME format\r\n\r\n--";
  text += kMimeBoundary;
  text += "\r\nContent-Type: text/plain\r\nContent-Transfer-Encoding: 7bit\r\n\r\n";
  text += message.Body + "\r\n";
  text += BuildMimeAttachments(message.Attachments);
  text += "--";
  text += kMimeBoundary;
  text += "--\r\n";
  return text;
}

std::string SmtpDataText(std::string_view message) {
  std::string text;
  text.reserve(message.size() + 64);
  bool lineStart = true;
  for (std::size_t i = 0; i < message.size(); ++i) {
    const char c = message[i];
    if (c == '\r' || c == '\n') {
      // SMTP lines end in CR LF only; a lone CR or LF would be read differently by different
      // servers (and a lone LF before "." could end the data early on some), so each becomes one.
      if (c == '\r' && i + 1 < message.size() && message[i + 1] == '\n') ++i;
      text += "\r\n";
      lineStart = true;
      continue;
    }
    if (lineStart && c == '.') text += '.';
    text += c;
    lineStart = false;
  }
  // The end-of-data line must start a line of its own.
  if (!lineStart) text += "\r\n";
  text += '.';
  return text;
}

std::string MailtoPercentEncode(std::string_view text, std::string_view alsoSafe) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size() * 3);
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (EncodedLength(c, alsoSafe) == 1) {
      out += ch;
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

std::string MailtoReportBody(const TMailtoMail& mail) {
  std::string body = "\r\n\r\n\r\n" + mail.ReportText;
  if (!mail.ReproduceText.empty()) body = mail.ReproduceText + "\r\n\r\n\r\n" + body;
  return body;
}

std::string MailtoCommandLine(std::string_view commandTemplate, const TMailtoMail& mail, std::size_t maxLength) {
  std::string message;
  for (const char c : mail.Message)
    if (c != '&') message += c;
  const std::string text = message + MailtoReportBody(mail);

  const std::string head = "mailto:" + MailtoPercentEncode(mail.Recipients, kAddressSafe) +
                           "?Subject=" + MailtoPercentEncode(mail.Subject) + "&Body=";
  const std::size_t uses = CountOf(commandTemplate, "%1");
  if (uses == 0) return std::string(commandTemplate);

  std::string body = MailtoPercentEncode(text);
  const std::size_t fixed = commandTemplate.size() - 2 * uses + uses * head.size();
  if (fixed + uses * body.size() > maxLength) {
    // Cut the text at a whole character so that the encoded cut text and the note fit.
    const std::string note =
        MailtoPercentEncode(mail.CutNote.empty() ? std::string(kMailtoCutNote) : "\r\n\r\n" + mail.CutNote);
    const std::size_t room = maxLength > fixed ? (maxLength - fixed) / uses : 0;
    std::size_t budget = room > note.size() ? room - note.size() : 0;
    std::size_t keep = 0;
    while (keep < text.size()) {
      const auto c = static_cast<unsigned char>(text[keep]);
      const std::size_t width = IsGbkLeadByte(c) && keep + 1 < text.size() ? 2 : 1;
      std::size_t cost = 0;
      for (std::size_t k = 0; k < width; ++k) cost += EncodedLength(static_cast<unsigned char>(text[keep + k]), {});
      if (cost > budget) break;
      budget -= cost;
      keep += width;
    }
    body = MailtoPercentEncode(std::string_view(text).substr(0, keep)) + (room >= note.size() ? note : std::string());
  }
  return ReplaceAll(commandTemplate, "%1", head + body);
}

namespace {

// A path compared as the file system compares it: ASCII letters in any case, "/" as "\\".
std::string ComparablePath(std::string_view path) {
  std::string text = AsciiUpper(path);
  for (char& c : text)
    if (c == '/') c = '\\';
  return text;
}

}  // namespace

std::string LogCopyPathFor(std::string_view temporaryFolder, bool logInMailBody, std::string_view outputLogFile) {
  if (logInMailBody) return {};
  const std::string name(AnsiFileNamePart(outputLogFile));
  std::string copy = std::string(temporaryFolder) + name;
  if (ComparablePath(copy) != ComparablePath(outputLogFile)) return copy;
  const std::size_t dot = name.find_last_of('.');
  const std::size_t stem = dot == std::string::npos ? name.size() : dot;
  return std::string(temporaryFolder) + name.substr(0, stem) + "-copy" + name.substr(stem);
}

std::string CrLfLines(std::string_view text) {
  std::string out;
  for (const std::string_view line : SplitLines(text)) {
    out.append(line);
    out += "\r\n";
  }
  return out;
}

}  // namespace pelloran::crashlog
