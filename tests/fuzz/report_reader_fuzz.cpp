// Any bytes as a mail and as an ".elf" log, read the way crashlog-report reads them: every
// report found is counted once in one group, a group's facts hold together (dates in order,
// versions sorted and distinct, at most three stack rows, each with a unit), and problem lines
// are single lines. The same bytes attached to a mail in the reporter's base64 and in
// quoted-printable come back exactly.

#include <cstdint>
#include <string>
#include <string_view>

#include "crashlog/delivery/mail_text.h"
#include "tests/fuzz/fuzz_checks.h"
#include "tools/crashlog_report/mime_message.h"
#include "tools/crashlog_report/report_groups.h"
#include "tools/crashlog_report/report_sources.h"

using namespace pelloran;
using namespace pelloran::crashlog_report;

namespace {

// Quoted-printable with every byte but letters and digits escaped, lines cut by soft breaks: no
// line of it can be taken for a boundary.
std::string QuotedPrintable(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text;
  std::size_t line = 0;
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    const bool plain = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9');
    const std::size_t width = plain ? 1 : 3;
    if (line + width > 75) {
      text.append("=\r\n");
      line = 0;
    }
    if (plain) {
      text.push_back(c);
    } else {
      text.push_back('=');
      text.push_back(kHex[byte >> 4]);
      text.push_back(kHex[byte & 15]);
    }
    line += width;
  }
  return text;
}

void CheckGroups(const TReportGroups& groups) {
  std::size_t counted = 0;
  for (const TReportGroup& group : groups.Sorted()) {
    counted += group.Count;
    FUZZ_CHECK(group.Count > 0);
    FUZZ_CHECK(group.FirstDate.has_value() == group.LastDate.has_value());
    if (group.FirstDate) FUZZ_CHECK(group.FirstTime <= group.LastTime);
    for (std::size_t v = 1; v < group.Versions.size(); ++v)
      FUZZ_CHECK(VersionBefore(group.Versions[v - 1], group.Versions[v]) || group.Versions[v - 1] < group.Versions[v]);
    FUZZ_CHECK(group.Stack.size() <= kStackRowsKept);
    for (const TStackRow& row : group.Stack) {
      FUZZ_CHECK(!row.Unit.empty());
      for (const std::string* cell : {&row.Address, &row.Module, &row.Unit, &row.Class, &row.Procedure, &row.Line})
        FUZZ_CHECK(cell->find("\r\n") == std::string::npos);
    }
    for (const auto& key : group.Key)
      if (key) FUZZ_CHECK(key->find("\r\n") == std::string::npos);
  }
  FUZZ_CHECK(counted == groups.Entries());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Megabyte inputs are read too (the campaign feeds some shaped to be slow): every reader must
  // stay linear.
  if (size > 2 * 1024 * 1024) return 0;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  TReportGroups groups;
  TReportReader reader(groups, [](const std::string& problem) { FUZZ_CHECK(problem.find('\n') == std::string::npos); });
  const std::size_t found = reader.ReadMailText(bytes, "mail") + reader.ReadLogText(bytes, "log");
  FUZZ_CHECK(groups.Entries() + groups.Repeated() == found);
  CheckGroups(groups);

  const std::string boundary(crashlog::kMimeBoundary);
  const std::string mail = "Subject: report\r\nContent-Type: multipart/mixed; boundary=\"" + boundary +
                           "\";\r\nMIME-Version: 1.0\r\n\r\n--" + boundary +
                           "\r\nContent-Type: application/octet-stream;\r\n        name=\"a.elf\"\r\n"
                           "Content-Transfer-Encoding: base64\r\n\r\n" +
                           crashlog::Base64EncodeBytes(bytes) + "\r\n--" + boundary +
                           "\r\nContent-Type: text/plain\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n" +
                           QuotedPrintable(bytes) + "\r\n--" + boundary + "--\r\n";
  TMailReading reading;
  FUZZ_CHECK(ReadMail(mail, reading));
  FUZZ_CHECK(reading.Problems.empty());
  FUZZ_CHECK(reading.Parts.size() == 2);
  FUZZ_CHECK(reading.Parts[0].FileName == "a.elf" && reading.Parts[0].Attachment);
  FUZZ_CHECK(reading.Parts[0].Content == bytes);
  FUZZ_CHECK(!reading.Parts[1].Attachment);
  FUZZ_CHECK(reading.Parts[1].Content == bytes);
  return 0;
}
