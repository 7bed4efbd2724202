#pragma once
// Where reports come from: ".elf" logs, mails saved as ".eml" files, Maildir folders (their
// "new" and "cur" mails) and plain folders of logs and mails. A mail gives the reports of its
// ".elf" attachments and those written into its text (a program that puts the log in the mail
// body). Whatever is damaged or foreign is skipped with one line to the problem sink, and the
// rest is read on.

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "tools/crashlog_report/report_groups.h"

namespace pelloran::crashlog_report {

// Files larger than this are not read (no log or mail of reports comes near it).
inline constexpr std::uintmax_t kMaxInputBytes = 1ull << 30;

class TReportReader {
 public:
  using TProblemSink = std::function<void(const std::string&)>;
  // Each problem reaches `problem` as one line: control characters from file names or mail
  // headers become "?".
  TReportReader(TReportGroups& groups, TProblemSink problem);

  // False when the path cannot be read at all (missing, unreadable, too big).
  bool ReadPath(const std::filesystem::path& path);
  // `origin` names the input in problem lines. The number of reports found (repeats included).
  std::size_t ReadLogText(std::string_view text, const std::string& origin);
  std::size_t ReadMailText(std::string_view bytes, const std::string& origin);

 private:
  bool ReadFile(const std::filesystem::path& path, bool asMail);
  void ReadFolder(const std::filesystem::path& path);

  TReportGroups& groups_;
  TProblemSink problem_;
};

}  // namespace pelloran::crashlog_report
