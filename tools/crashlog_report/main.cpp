// crashlog-report: groups the reports of crash logs by the error they describe.
//
//   crashlog-report [--json] [--charset NAME] PATH...
//
// PATH: an ".elf" log, a mail saved as ".eml", a Maildir folder, or a folder of logs and mails.
// Reports with the same address, module, type and message (items 2.2 to 2.5) form a group; the
// groups are printed most frequent first with their count, first and last date (2.1), the
// program versions seen (1.3) and the first call stack rows that name a unit. Damaged or foreign
// input is skipped with one line on standard error. Exit code: 0, or 1 when a PATH could not be
// read, or 2 for a wrong command line.

#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "tools/crashlog_report/report_output.h"
#include "tools/crashlog_report/report_sources.h"

using namespace pelloran::crashlog_report;

namespace {

constexpr std::string_view kUsage =
    "usage: crashlog-report [--json] [--charset NAME] PATH...\n"
    "  PATH     an .elf log, an .eml mail, a Maildir folder or a folder of .elf and .eml files\n"
    "  --json   print the groups as JSON\n"
    "  --charset NAME  the code page the reports were written in (iconv name; CP936 by default)\n";

}  // namespace

int main(int argc, char** argv) {
  bool json = false;
  std::string charset = "CP936";
  std::vector<std::string> paths;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--json") {
      json = true;
    } else if (arg == "--charset" && i + 1 < argc) {
      charset = argv[++i];
    } else if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return 0;
    } else if (arg.starts_with("--")) {
      std::cerr << kUsage;
      return 2;
    } else {
      paths.emplace_back(arg);
    }
  }
  if (paths.empty()) {
    std::cerr << kUsage;
    return 2;
  }
  const TTextConverter converter(charset);
  if (!converter.Valid()) {
    std::cerr << "crashlog-report: unknown charset " << charset << "\n";
    return 2;
  }

  TReportGroups groups;
  TReportReader reader(groups, [](const std::string& problem) { std::cerr << "crashlog-report: " << problem << "\n"; });
  bool allRead = true;
  for (const std::string& path : paths) allRead = reader.ReadPath(path) && allRead;

  const TReportSummary summary{groups.Entries(), groups.Repeated(), groups.Sorted()};
  if (json)
    WriteJsonReport(std::cout, summary, converter);
  else
    WriteTextReport(std::cout, summary, converter);
  std::cout.flush();
  return allRead ? 0 : 1;
}
