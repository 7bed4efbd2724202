#pragma once
// Process services and small system queries the crash reporter leans on: restart and termination,
// the host program, the debugger, the main window, the dialog charset, registry and profile
// values, module and file facts. Each wraps one platform query and never raises.

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pelloran::crashlog {

// The executable of the development environment that can host the program (IsIDEHost).
inline constexpr std::string_view kIdeExecutableName = "PELLORANIDE.EXE";

// The module that holds this code (the program, or the library the reporter is linked into).
HMODULE ThisModule() noexcept;
// File name of a module; empty when the system gives none. nullptr stands for the program file.
std::string ModuleFileName(HMODULE module);
// Size of the file found under `name` by a file search; 0 when there is none. Names with
// wildcards find nothing (they would measure some other file), and sizes beyond 32 bits read as
// 0xFFFFFFFF rather than wrapping around.
std::uint32_t FindFileSize(const std::string& name);

// The program's parameters as the run-time library split the command line, without the program
// path itself.
std::vector<std::string> CommandLineParameters();

// The current directory when the crash reporter started (recorded when this part of the reporter
// is initialised; RecordStartDirectory records it again).
std::string StartDirectory();
void RecordStartDirectory();

// Starts a new instance with this process's command line and start-up information in the
// StartDirectory. False when the system refused.
bool StartNewInstance();
// Reads (once, at installation) whether this instance was started by a restart, and when.
void RecordRestartTime();
// True when this instance was started by a restart less than a minute ago: a program that fails
// again so soon is not restarted again.
bool RestartedRecently();
// With `restart`, StartNewInstance; then the process ends with exit code 1.
[[noreturn]] void TerminateProcessNow(bool restart);

// True when the program's main executable is the development environment itself.
bool IsIDEHost();
// The comparison behind IsIDEHost, on the executable's path.
bool IsIdeExecutablePath(std::string_view executablePath);

bool IsDebuggerAttached();

// The first top-level window of the process that is visible, owned by nobody but the desktop,
// and not a tool window unless it is also marked as an application window; nullptr when none.
HWND FindMainWindow(DWORD processId);

// The character set derived from the default ANSI code page of the user's locale.
BYTE DefaultCharset();

// A string value of the registry; empty when the key or the value is missing or is no string.
// A leading backslash of `key` is ignored.
std::string ReadRegistryString(HKEY root, std::string_view key, std::string_view valueName);

// Private-profile values; a failed read gives `defaultValue`, a failed write is ignored.
std::string ReadIniString(const std::string& file, const std::string& section, const std::string& key,
                          const std::string& defaultValue);
void WriteIniString(const std::string& file, const std::string& section, const std::string& key,
                    const std::string& value);

}  // namespace pelloran::crashlog
