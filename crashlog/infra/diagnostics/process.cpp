#include "crashlog/infra/diagnostics/process.h"

#include "base/ansi_path.h"
#include "crashlog/infra/diagnostics/trace.h"
#include "runtime/scoped_handle.h"

#include <cstdlib>
#include <cstring>

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace pelloran::crashlog {

namespace {

// GetProcAddress gives a generic function pointer; the detour through void(*)() is the cast the
// compiler accepts without a function-type warning.
template <typename Function>
Function ProcAddress(HMODULE module, const char* name) {
  FARPROC address = module != nullptr ? ::GetProcAddress(module, name) : nullptr;
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
}

char UpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

std::string CurrentDirectory() {
  std::string dir(MAX_PATH, '\0');
  for (int attempt = 0; attempt < 3; ++attempt) {
    const DWORD length = GetCurrentDirectoryA(static_cast<DWORD>(dir.size()), dir.data());
    if (length == 0) return {};
    if (length < dir.size()) {
      dir.resize(length);
      return dir;
    }
    dir.resize(length);  // too small: length is the size needed, terminating zero included
  }
  return {};
}

// Never destroyed: a restart can be asked for while the program finalises.
std::string& StartDirectoryStore() {
  static std::string* const directory = new std::string(CurrentDirectory());
  return *directory;
}

// Recorded while the program initialises, before any code can change the current directory.
[[maybe_unused]] const bool startDirectoryRecorded = !StartDirectoryStore().empty();

}  // namespace

HMODULE ThisModule() noexcept { return reinterpret_cast<HMODULE>(&__ImageBase); }

std::string ModuleFileName(HMODULE module) {
  std::string name(MAX_PATH, '\0');
  for (;;) {
    const DWORD length = GetModuleFileNameA(module, name.data(), static_cast<DWORD>(name.size()));
    if (length == 0) return {};
    if (length < name.size()) {
      name.resize(length);
      return name;
    }
    if (name.size() >= 32768) return {};
    name.resize(name.size() * 2);  // truncated: try again with more room
  }
}

std::uint32_t FindFileSize(const std::string& name) {
  if (name.empty() || name.find_first_of("*?") != std::string::npos) return 0;
  WIN32_FIND_DATAA data{};
  ScopedFindHandle search(FindFirstFileA(name.c_str(), &data));
  if (!search) return 0;
  return data.nFileSizeHigh != 0 ? 0xFFFFFFFFu : data.nFileSizeLow;
}

std::vector<std::string> CommandLineParameters() {
  std::vector<std::string> parameters;
  const int count = __argc;
  char** values = __argv;
  for (int i = 1; values != nullptr && i < count; ++i)
    parameters.emplace_back(values[i] != nullptr ? values[i] : "");
  return parameters;
}

std::string StartDirectory() { return StartDirectoryStore(); }

void RecordStartDirectory() { StartDirectoryStore() = CurrentDirectory(); }

namespace {

// The new instance learns from its environment when it was started by a restart, so that a
// program that fails again at once is not restarted for ever.
constexpr const char* kRestartedAtVariable = "CRASHLOG_RESTARTED_AT";
constexpr std::uint64_t kRestartLoopSeconds = 60;
std::uint64_t restartedAt = 0;  // seconds since 1601, 0: not started by a restart

std::uint64_t NowInSeconds() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return ((static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime) / 10000000u;
}

}  // namespace

void RecordRestartTime() {
  char value[32] = {};
  const DWORD length = GetEnvironmentVariableA(kRestartedAtVariable, value, sizeof value);
  if (length == 0 || length >= sizeof value) return;
  restartedAt = std::strtoull(value, nullptr, 10);
  // Only this instance was restarted: programs it starts were not.
  SetEnvironmentVariableA(kRestartedAtVariable, nullptr);
}

bool RestartedRecently() {
  return restartedAt != 0 && NowInSeconds() - restartedAt < kRestartLoopSeconds;
}

bool StartNewInstance() {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  GetStartupInfoA(&startup);
  // These describe this process's own C run-time file table and standard handles; the new
  // instance inherits no handles, so handing them on would give it handle values that point
  // nowhere, or at whatever object happens to get the same value there.
  startup.cbReserved2 = 0;
  startup.lpReserved2 = nullptr;
  startup.dwFlags &= ~static_cast<DWORD>(STARTF_USESTDHANDLES);
  startup.hStdInput = nullptr;
  startup.hStdOutput = nullptr;
  startup.hStdError = nullptr;

  std::string commandLine = GetCommandLineA();
  const std::string directory = StartDirectory();
  SetEnvironmentVariableA(kRestartedAtVariable, std::to_string(NowInSeconds()).c_str());
  PROCESS_INFORMATION process{};
  constexpr DWORD kNewGroupNormalPriority = CREATE_NEW_PROCESS_GROUP | NORMAL_PRIORITY_CLASS;  // 0x220
  if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, kNewGroupNormalPriority, nullptr,
                      directory.empty() ? nullptr : directory.c_str(), &startup, &process))
    return false;
  ScopedKernelHandle processHandle(process.hProcess);
  ScopedKernelHandle threadHandle(process.hThread);
  return true;
}

void TerminateProcessNow(bool restart) {
  Trace("TerminateProcessNow", {restart});
  if (restart && RestartedRecently()) {
    Trace("TerminateProcessNow: failed again within a minute of its restart; not restarted");
    restart = false;
  }
  if (restart) StartNewInstance();
  TerminateProcess(GetCurrentProcess(), 1);
  ExitProcess(1);  // not reached unless the system refused to terminate
}

bool IsIdeExecutablePath(std::string_view executablePath) {
  const std::string_view fileName = AnsiFileNamePart(executablePath);
  if (fileName.size() != kIdeExecutableName.size()) return false;
  for (std::size_t i = 0; i < fileName.size(); ++i)
    if (UpperAscii(fileName[i]) != kIdeExecutableName[i]) return false;
  return true;
}

bool IsIDEHost() { return IsIdeExecutablePath(ModuleFileName(nullptr)); }

bool IsDebuggerAttached() {
  const HMODULE kernel = GetModuleHandleA("kernel32.dll");
  if (auto isDebuggerPresent = ProcAddress<BOOL(WINAPI*)()>(kernel, "IsDebuggerPresent"))
    return isDebuggerPresent() != FALSE;
  // Systems without IsDebuggerPresent: a debugger there moves kernel32's own export of
  // GetProcAddress below the module.
  const auto getProcAddress = reinterpret_cast<std::uintptr_t>(ProcAddress<void (*)()>(kernel, "GetProcAddress"));
  return kernel != nullptr && getProcAddress < reinterpret_cast<std::uintptr_t>(kernel);
}

namespace {

struct MainWindowSearch {
  DWORD ProcessId;
  HWND Found;
};

BOOL CALLBACK TestMainWindowCandidate(HWND window, LPARAM context) {
  auto& search = *reinterpret_cast<MainWindowSearch*>(context);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != search.ProcessId || !IsWindowVisible(window)) return TRUE;
  const HWND ownerWindow = GetWindow(window, GW_OWNER);
  if (ownerWindow != nullptr && ownerWindow != GetDesktopWindow()) return TRUE;
  const auto style = static_cast<DWORD>(GetWindowLongA(window, GWL_EXSTYLE));
  if ((style & WS_EX_TOOLWINDOW) != 0 && (style & WS_EX_APPWINDOW) == 0) return TRUE;
  search.Found = window;
  return FALSE;
}

}  // namespace

HWND FindMainWindow(DWORD processId) {
  MainWindowSearch search{processId, nullptr};
  EnumWindows(&TestMainWindowCandidate, reinterpret_cast<LPARAM>(&search));
  return search.Found;
}

BYTE DefaultCharset() {
  char text[16] = {};
  GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_IDEFAULTANSICODEPAGE, text, sizeof text);
  char* end = nullptr;
  unsigned long codePage = std::strtoul(text, &end, 10);
  if (end == text || *end != '\0') codePage = GetACP();
  CHARSETINFO info{};
  // The code page travels in the pointer argument itself (TCI_SRCCODEPAGE).
  if (!TranslateCharsetInfo(reinterpret_cast<DWORD*>(static_cast<std::uintptr_t>(codePage)), &info, TCI_SRCCODEPAGE))
    return DEFAULT_CHARSET;
  return static_cast<BYTE>(info.ciCharset);
}

std::string ReadRegistryString(HKEY root, std::string_view key, std::string_view valueName) {
  if (!key.empty() && key.front() == '\\') key.remove_prefix(1);
  HKEY opened = nullptr;
  if (RegOpenKeyExA(root, std::string(key).c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) return {};
  ScopedRegistryKey registryKey(opened);
  const std::string name(valueName);
  // Size first, then the data; the value can grow in between, so a short buffer is retried.
  for (int attempt = 0; attempt < 4; ++attempt) {
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExA(registryKey.get(), name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return {};
    if (type != REG_SZ && type != REG_EXPAND_SZ) return {};
    std::string data(size, '\0');
    DWORD got = size;
    const LONG result = RegQueryValueExA(registryKey.get(), name.c_str(), nullptr, &type,
                                         reinterpret_cast<BYTE*>(data.data()), &got);
    if (result == ERROR_MORE_DATA) continue;
    if (result != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return {};
    data.resize(got < size ? got : size);
    // Only a real terminating zero is cut: a value stored without one keeps its last character.
    if (!data.empty() && data.back() == '\0') data.pop_back();
    return data;
  }
  return {};
}

std::string ReadIniString(const std::string& file, const std::string& section, const std::string& key,
                          const std::string& defaultValue) {
  char buffer[2048] = {};
  GetPrivateProfileStringA(section.c_str(), key.c_str(), defaultValue.c_str(), buffer, sizeof buffer, file.c_str());
  return buffer;
}

void WriteIniString(const std::string& file, const std::string& section, const std::string& key,
                    const std::string& value) {
  WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), file.c_str());
}

}  // namespace pelloran::crashlog
