#pragma once
// Small platform helpers shared by the delivery's Windows code.

#include <string>

namespace pelloran::crashlog {

// The system's message for an error code (also for Windows Sockets codes), without line ends.
std::string SystemErrorText(unsigned long code);

}  // namespace pelloran::crashlog
