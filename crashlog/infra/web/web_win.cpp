#include "crashlog/infra/web/web.h"

#include "base/exceptions.h"
#include "crashlog/infra/diagnostics/error_code.h"
#include "crashlog/infra/diagnostics/process.h"
#include "crashlog/infra/diagnostics/trace.h"
#include "crashlog/infra/web/intraweb.h"
#include "runtime/scoped_handle.h"

#include <cstdint>
#include <vector>

namespace pelloran::crashlog {

namespace {

// A WinCGI profile is a few kilobytes; anything larger is no profile of a server.
constexpr std::uint64_t kMaxWinCGIProfileSize = 102400;

// The optional header of a loaded module, found through its DOS and NT headers.
const IMAGE_NT_HEADERS* NtHeadersOf(HMODULE module) {
  const auto* base = reinterpret_cast<const BYTE*>(module);
  if (base == nullptr) return nullptr;
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  if (dos->e_magic != IMAGE_DOS_SIGNATURE) return nullptr;
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  return nt->Signature == IMAGE_NT_SIGNATURE ? nt : nullptr;
}

bool FileSize(const std::string& name, std::uint64_t& size) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (name.empty() || !GetFileAttributesExA(name.c_str(), GetFileExInfoStandard, &data)) return false;
  if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return false;
  size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return true;
}

// Writes all of `bytes`; a pipe may take them in several pieces.
bool WriteAll(HANDLE file, std::string_view bytes) {
  while (!bytes.empty()) {
    DWORD written = 0;
    if (!WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) || written == 0)
      return false;
    bytes.remove_prefix(written);
  }
  return true;
}

// The identity of an existing file (volume and file index); false when it cannot be opened.
bool FileIdentity(const std::string& name, BY_HANDLE_FILE_INFORMATION& info) {
  ScopedFileHandle file(CreateFileA(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  return file && GetFileInformationByHandle(file.get(), &info) != 0;
}

bool SameFile(const std::string& a, const std::string& b) {
  BY_HANDLE_FILE_INFORMATION first{}, second{};
  return FileIdentity(a, first) && FileIdentity(b, second) &&
         first.dwVolumeSerialNumber == second.dwVolumeSerialNumber && first.nFileIndexHigh == second.nFileIndexHigh &&
         first.nFileIndexLow == second.nFileIndexLow;
}

// The output file of a WinCGI request, or "" with the reason why the command line is none. Files
// dropped on a window program become its parameters, and the first of them may be made to look
// like a profile: a file is taken for the server's output only when the profile names the very
// file of the third parameter, and that file is empty, as a server creates it for each request.
std::string WinCGIOutputFileOf(const std::vector<std::string>& parameters, const char*& refusal) {
  refusal = "no profile";
  if (parameters.size() < 3) return {};
  std::uint64_t size = 0;
  const std::string& profile = parameters[0];
  if (!FileSize(profile, size) || size > kMaxWinCGIProfileSize) return {};
  if (ReadIniString(profile, "CGI", "Request Method", "").empty()) return {};
  refusal = "the profile names another output file";
  const std::string& output = parameters[2];
  const std::string named = ReadIniString(profile, "System", "Output File", "");
  if (output.empty() || named.empty() || !SameFile(output, named)) return {};
  refusal = "the output file is not empty";
  if (!FileSize(output, size) || size != 0) return {};
  refusal = nullptr;
  return output;
}

// Decided once, from the files as they were when the program started: the program's own work
// may write into its parameters later.
struct TWinCGIStart {
  bool IsRequest = false;
  std::string Output;
};

TWinCGIStart ReadWinCGIStart() {
  TWinCGIStart start;
  try {
    if (IsConsoleProgram()) return start;
    const char* refusal = nullptr;
    start.Output = WinCGIOutputFileOf(CommandLineParameters(), refusal);
    start.IsRequest = !start.Output.empty();
    if (refusal != nullptr && std::string_view(refusal) != "no profile") Trace("IsWinCGI.Refused", {refusal});
  } catch (...) {
    start = {};
  }
  return start;
}

const TWinCGIStart& WinCGIStart() {
  static const TWinCGIStart start = ReadWinCGIStart();
  return start;
}

// Read while the program initialises, before any of its own code runs.
[[maybe_unused]] const bool winCGIStartRead = (WinCGIStart(), true);

bool WriteISAPIError(std::string_view page, DWORD requestThread) {
  EXTENSION_CONTROL_BLOCK* block = ServerECB(requestThread);
  if (block == nullptr) {
    ReportWarning(eeShowError, "ISAPI: ServerECB = nil");
    return false;
  }
  std::string header = WebErrorHeader(page.size(), false);
  std::string status(kWebErrorStatus);
  std::string body(page);
  block->dwHttpStatusCode = 500;
  DWORD statusSize = static_cast<DWORD>(status.size());
  const bool headerSent =
      block->ServerSupportFunction != nullptr &&
      block->ServerSupportFunction(block->ConnID, HSE_REQ_SEND_RESPONSE_HEADER, status.data(), &statusSize,
                                   reinterpret_cast<LPDWORD>(header.data()));
  DWORD written = static_cast<DWORD>(body.size());
  const bool pageSent = headerSent && block->WriteClient != nullptr &&
                        block->WriteClient(block->ConnID, body.data(), &written, 0) && written == body.size();
  if (!pageSent) {
    ReportWarning(eeShowError, "ISAPI: Cannot send the error page.");
    return false;
  }
  return true;
}

bool WriteCGIError(std::string_view page) {
  const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  const bool ok = output != nullptr && output != INVALID_HANDLE_VALUE &&
                  WriteAll(output, WebErrorHeader(page.size(), true)) && WriteAll(output, page);
  if (!ok) ReportWarning(eeShowError, "CGI: Cannot write in the ouput file.");
  return ok;
}

bool WriteWinCGIError(std::string_view page) {
  try {
    const std::string name = WinCGIOutputFile();
    ScopedFileHandle file(CreateFileA(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) throw EInOutError("Cannot open the output file \"" + name + "\".", GetLastError());
    // The server sends the whole file: what an earlier, longer output left behind the page
    // would reach the client as well.
    if (!WriteAll(file.get(), WebErrorOutput(page)) || !SetEndOfFile(file.get()))
      throw EInOutError("Cannot write the output file \"" + name + "\".", GetLastError());
    return true;
  } catch (...) {
    ReportSectionError(eeShowError, "WinCGI");
    return false;
  }
}

}  // namespace

bool IsConsoleProgram() {
  const IMAGE_NT_HEADERS* headers = NtHeadersOf(GetModuleHandleA(nullptr));
  return headers != nullptr && headers->OptionalHeader.Subsystem == IMAGE_SUBSYSTEM_WINDOWS_CUI;
}

bool IsCGI() {
  TraceEnter("IsCGI");
  const bool result = IsConsoleProgram() && GetEnvironmentVariableA("REQUEST_METHOD", nullptr, 0) != 0;
  TraceLeave("IsCGI", {result});
  return result;
}

bool IsWinCGI() {
  TraceEnter("IsWinCGI");
  const TWinCGIStart& start = WinCGIStart();
  TraceLeave("IsWinCGI", {start.IsRequest});
  return start.IsRequest;
}

std::string WinCGIOutputFile() { return WinCGIStart().Output; }

bool IsISAPI() {
  TraceEnter("IsISAPI");
  const HMODULE module = ThisModule();
  const IMAGE_NT_HEADERS* headers = NtHeadersOf(module);
  const bool result = headers != nullptr && (headers->FileHeader.Characteristics & IMAGE_FILE_DLL) != 0 &&
                      GetProcAddress(module, "HttpExtensionProc") != nullptr;
  TraceLeave("IsISAPI", {result});
  return result;
}

bool IsWebApplication() { return IsISAPI() || IsCGI() || IsWinCGI() || IsIntraWeb(); }

bool IsGUIApplication() { return !IsWebApplication() && !IsConsoleProgram(); }

TServerECBRecords& ServerECBRecords() {
  // Never destroyed: a request may still be served while the program finalises.
  static TServerECBRecords* const records = new TServerECBRecords;
  return *records;
}

EXTENSION_CONTROL_BLOCK* ServerECB(DWORD thread) { return ServerECBRecords().Find(thread).value_or(nullptr); }

bool WriteWebError(std::string_view page, DWORD requestThread) {
  TraceEnter("WriteWebError", {static_cast<unsigned>(page.size()), static_cast<unsigned>(requestThread)});
  bool result = true;
  try {
    if (IsISAPI()) result = WriteISAPIError(page, requestThread);
    else if (IsCGI()) result = WriteCGIError(page);
    else if (IsWinCGI()) result = WriteWinCGIError(page);
  } catch (...) {
    ReportSectionError(eeShowError, "WriteWebError");
    result = false;
  }
  TraceLeave("WriteWebError", {result});
  return result;
}

}  // namespace pelloran::crashlog
