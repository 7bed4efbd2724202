// Writes an error log from another process, for the log tests:
//   add <log> <text>                 adds one entry and saves
//   loop <log> <count> <size>        saves list B, then A, then B ... until it is killed
#include "crashlog/capture/log_file.h"
#include "tests/crashlog/capture/log_lists.h"

#include <cstdlib>
#include <string>

using pelloran::crashlog::TLogFile;

namespace {

void SaveList(const std::string& log, char list, int count, int size) {
  TLogFile file(log);
  for (int i = 0; i < count; ++i) file.AddEntry(pelloran::testing::ListEntryText(list, i, size), count);
  file.Save();
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "add" && argc == 4) {
    TLogFile file(argv[2]);
    file.AddEntry(std::string(argv[3]) + "\r\n", 32);
    file.Save();
    return 0;
  }
  if (command == "loop" && argc == 5) {
    const int count = std::atoi(argv[3]);
    const int size = std::atoi(argv[4]);
    for (char list = 'B';; list = list == 'A' ? 'B' : 'A') SaveList(argv[2], list, count, size);
  }
  return 2;
}
