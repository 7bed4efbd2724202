#pragma once
// The hooks on the top-level exception handlers of the application frameworks a program may be
// built on: each is found by its full name in the program's debug information, else as the
// export of the framework's run-time package, and installed only when present.

#include <string>
#include <vector>

namespace pelloran::crashlog {

// Installs every framework hook whose procedure is present; returns the names of those installed.
std::vector<std::string> HookFrameworkHandlers();
// Forgets the installed hooks (the hooking engine's UnhookAll takes the code back).
void ForgetFrameworkHooks();
// The web framework's handler hook is installed: the program is a web-framework application.
bool IntraWebHookInstalled();

}  // namespace pelloran::crashlog
