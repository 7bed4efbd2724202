// A small program that the diagnostics tests start to see the reporter's process services from
// the outside. The first parameter names what to do; the exit code carries the answer.
//   trace <word>          trace an entry and an exit; exit code = 10 * lines in the ".log" file after
//                         the entry + lines after the exit
//   idehost               exit code 1 when IsIDEHost
//   attached              exit code = IsDebuggerAttached + 2 * TraceEnabled
//   restart <marker>      first run: note command line, folder and whether it was given standard
//                         handles in <marker>, move to another folder and TerminateProcessNow(true);
//                         the instance it starts notes itself likewise and ends

#include "crashlog/infra/diagnostics/process.h"
#include "crashlog/infra/diagnostics/trace.h"

#include <windows.h>

#include <cstdio>
#include <string>

using namespace pelloran::crashlog;

namespace {

int CountLogLines() {
  std::FILE* file = std::fopen(TraceLog().LogPath().c_str(), "rb");
  if (file == nullptr) return 0;
  int lines = 0;
  for (int c; (c = std::fgetc(file)) != EOF;)
    if (c == '\n') ++lines;
  std::fclose(file);
  return lines;
}

void NoteInstance(const std::string& marker, const char* which) {
  char folder[MAX_PATH] = {};
  GetCurrentDirectoryA(sizeof folder, folder);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  GetStartupInfoA(&startup);
  const char* handles = (startup.dwFlags & STARTF_USESTDHANDLES) != 0 ? "std" : "own";
  if (std::FILE* file = std::fopen(marker.c_str(), "ab")) {
    std::fprintf(file, "%s|%s|%s|%s\n", which, GetCommandLineA(), folder, handles);
    std::fclose(file);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "trace") {
    TraceEnter("Probe", {1, 'a'});
    const int afterEntry = CountLogLines();
    TraceLeave("Probe", {true});
    return afterEntry * 10 + CountLogLines();
  }
  if (command == "idehost") return IsIDEHost() ? 1 : 0;
  if (command == "attached") return (IsDebuggerAttached() ? 1 : 0) + (TraceEnabled() ? 2 : 0);
  if (command == "restart" && argc > 2) {
    const std::string marker = argv[2];
    if (GetFileAttributesA(marker.c_str()) != INVALID_FILE_ATTRIBUTES) {
      NoteInstance(marker, "second");
      return 0;
    }
    NoteInstance(marker, "first");
    // The new instance must start in the folder of start-up, not in the current one.
    SetCurrentDirectoryA(marker.substr(0, marker.find_last_of('\\')).c_str());
    TerminateProcessNow(true);
  }
  return 100;
}
