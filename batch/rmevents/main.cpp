// rmevents.exe: writes a copy of a RealMedia file without its pop-up advertising streams.
//   rmevents.exe -i "in.rm" -o "out.rm" -e "blank.txt" -m "blank2.txt" -l "result.txt"
// wmain: the C runtime splits the UTF-16 command line, so the shell library is not loaded (under
// Wine it doubled the start-up time, which counts for every file of a batch).

#include <cstdio>

#include "batch/rmevents/file_win.h"
#include "batch/rmevents/user_language_win.h"

int wmain(int argc, wchar_t** argv) {
  using namespace pelloran::rmevents;
  std::vector<std::wstring> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  ParsedCommandLine commandLine = ParseCommandLine(args, UserLogLanguage());
  const LogLanguage lang = commandLine.options.language;
  FileRunLog log;
  if (!commandLine.options.log.empty() && !log.Open(commandLine.options.log)) {
    std::fprintf(stderr, Say(lang, "rmevents: the log file cannot be created (system error %lu)\n",
                             "rmevents：无法创建日志文件（系统错误 %lu）\n"),
                 static_cast<unsigned long>(GetLastError()));
    return 1;
  }
  WindowsEnvironment env(lang);
  RunOutcome outcome = RunTool(commandLine, env, log);
  return ExitStatus(commandLine, outcome);
}
