// The events tool built for Linux: same command line and log as rmevents.exe.

#include <cstdio>
#include <fstream>

#include "tests/batch/rmevents/native/posix_environment.h"

namespace {

class StreamLog : public pelloran::rmevents::RunLog {
 public:
  bool Open(const std::string& path) {
    file_.open(path, std::ios::binary | std::ios::trunc);
    return file_.good();
  }
  void Line(const std::string& text) override {
    std::printf("%s\n", text.c_str());
    if (file_.is_open()) file_ << text << "\r\n" << std::flush;
  }

 private:
  std::ofstream file_;
};

}  // namespace

int main(int argc, char** argv) {
  using namespace pelloran::rmevents;
  std::vector<std::wstring> args;
  for (int i = 1; i < argc; ++i) args.push_back(WidenBytes(argv[i]));
  ParsedCommandLine commandLine = ParseCommandLine(args);
  StreamLog log;
  if (!commandLine.options.log.empty() && !log.Open(NarrowBytes(commandLine.options.log))) {
    std::fprintf(stderr, "rmevents: the log file cannot be created\n");
    return 1;
  }
  PosixEnvironment env;
  return ExitStatus(commandLine, RunTool(commandLine, env, log));
}
