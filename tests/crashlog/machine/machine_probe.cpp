// Prints application facts of its own, for the machine facts tests:
//   params ...   the "Parameters" fact
//   name         "Name/Description|Version Number"
//   os           "Type|Build #|Update" of the operating system

#include "crashlog/machine/machine.h"

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
  using namespace pelloran::crashlog;
  const std::string command = argc > 1 ? argv[1] : "";
  std::string fact;
  if (command == "params") fact = ApplicationParameters();
  if (command == "name") fact = ApplicationNameDescription() + "|" + ApplicationVersionNumber();
  if (command == "os")
    fact = OperatingSystemType() + "|" + OperatingSystemBuildNumber() + "|" + OperatingSystemUpdateText();
  std::fputs(fact.c_str(), stdout);
  return 0;
}
