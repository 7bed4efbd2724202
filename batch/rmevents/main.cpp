// rmevents.exe: writes a copy of a RealMedia file without its pop-up advertising streams.
//   rmevents.exe -i "in.rm" -o "out.rm" -e "blank.txt" -m "blank2.txt" -l "result.txt"

#include <cstdio>

#include "batch/rmevents/file_win.h"

int main() {
  using namespace pelloran::rmevents;
  ParsedCommandLine commandLine = ParseCommandLine(CommandLineArguments());
  FileRunLog log;
  if (!commandLine.options.log.empty() && !log.Open(commandLine.options.log)) {
    std::fprintf(stderr, "rmevents: the log file cannot be created (system error %lu)\n",
                 static_cast<unsigned long>(GetLastError()));
    return 1;
  }
  WindowsEnvironment env;
  RunOutcome outcome = RunTool(commandLine, env, log);
  return ExitStatus(commandLine, outcome);
}
