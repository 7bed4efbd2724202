#include "crashlog/capture/log_file.h"

#include "base/exceptions.h"
#include "crashlog/infra/diagnostics/trace.h"
#include "runtime/scoped_handle.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>

namespace pelloran::crashlog {

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// Another reporter reading the log holds it open for a moment; the replace is tried again a few
// times before the log is written in place.
constexpr int kReplaceAttempts = 5;
constexpr DWORD kReplacePauseMs = 10;

std::string SystemErrorText(DWORD code) {
  char* buffer = nullptr;
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                          FORMAT_MESSAGE_IGNORE_INSERTS,
                                      nullptr, code, 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
  std::string text = length > 0 && buffer != nullptr ? std::string(buffer, length) : std::string();
  LocalFree(buffer);
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text.empty() ? "System error " + std::to_string(code) + "." : text;
}

[[noreturn]] void RaiseFileError(std::string_view what, const std::string& file, DWORD code) {
  throw EInOutError(std::string(what) + " \"" + file + "\". " + SystemErrorText(code), code);
}

bool WriteAll(HANDLE file, std::string_view text) {
  while (!text.empty()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(text.size(), 1u << 20));
    DWORD written = 0;
    if (!WriteFile(file, text.data(), chunk, &written, nullptr) || written == 0) return false;
    text.remove_prefix(written);
  }
  return true;
}

// The last kMaxLogReadBytes of the file at most; the cut content starts at its first CR LF, so
// that a half entry at the cut is not taken for one.
std::string ReadLogContent(HANDLE file, const std::string& name) {
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file, &size)) RaiseFileError("Cannot read the error log", name, GetLastError());
  std::size_t wanted = static_cast<std::size_t>(size.QuadPart);
  const bool cut = static_cast<unsigned long long>(size.QuadPart) > kMaxLogReadBytes;
  if (cut) {
    wanted = kMaxLogReadBytes;
    LARGE_INTEGER from{};
    from.QuadPart = size.QuadPart - static_cast<LONGLONG>(kMaxLogReadBytes);
    if (!SetFilePointerEx(file, from, nullptr, FILE_BEGIN)) RaiseFileError("Cannot read the error log", name, GetLastError());
    Trace("TLogFile.ReadCut", {name, static_cast<unsigned long long>(size.QuadPart), wanted});
  }
  std::string content(wanted, '\0');
  std::size_t got = 0;
  while (got < wanted) {
    DWORD chunk = 0;
    const DWORD ask = static_cast<DWORD>(std::min<std::size_t>(wanted - got, 1u << 20));
    if (!ReadFile(file, content.data() + got, ask, &chunk, nullptr)) RaiseFileError("Cannot read the error log", name, GetLastError());
    if (chunk == 0) break;  // the file shrank meanwhile
    got += chunk;
  }
  content.resize(got);
  if (cut) {
    const std::size_t lineEnd = content.find("\r\n");
    content.erase(0, lineEnd == std::string::npos ? content.size() : lineEnd);
  }
  return content;
}

// Writes the exit line of a traced operation, also when it raises.
class TTraceExit {
 public:
  explicit TTraceExit(std::string_view name) : name_(name) {}
  TTraceExit(const TTraceExit&) = delete;
  TTraceExit& operator=(const TTraceExit&) = delete;
  ~TTraceExit() { TraceLeave(name_, {result_}); }
  void Result(std::string_view result) { result_ = result; }

 private:
  std::string_view name_;
  std::string_view result_ = "failed";
};

enum class TTempWrite { Written, CannotCreate, Failed };

TTempWrite WriteTempFile(const std::string& temp, std::string_view text, DWORD& error) {
  ScopedFileHandle file(CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    error = GetLastError();
    return TTempWrite::CannotCreate;
  }
  // Flushed before it replaces the log: the log's name must never point at data not yet on disk.
  if (!WriteAll(file.get(), text) || !FlushFileBuffers(file.get())) {
    error = GetLastError();
    file.reset();
    DeleteFileA(temp.c_str());
    return TTempWrite::Failed;
  }
  return TTempWrite::Written;
}

bool ReplaceLog(const std::string& temp, const std::string& log) {
  for (int attempt = 0; attempt < kReplaceAttempts; ++attempt) {
    if (MoveFileExA(temp.c_str(), log.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
    const DWORD error = GetLastError();
    if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) return false;
    Sleep(kReplacePauseMs);
  }
  return false;
}

void WriteInPlace(const std::string& log, std::string_view text) {
  ScopedFileHandle file(CreateFileA(log.c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) RaiseFileError("Cannot write the error log", log, GetLastError());
  if (!WriteAll(file.get(), text) || !SetEndOfFile(file.get()))
    RaiseFileError("Cannot write the error log", log, GetLastError());
}

}  // namespace

std::string LogSaveTempName(const std::string& logFile) {
  char suffix[24];
  std::snprintf(suffix, sizeof suffix, ".%08lX.tmp", GetCurrentProcessId());
  return logFile + suffix;
}

TLogFile::TLogFile(std::string fileName) : fileName_(std::move(fileName)) {
  TraceEnter("TLogFile.Create", {fileName_});
  TTraceExit exit("TLogFile.Create");
  ScopedFileHandle file(CreateFileA(fileName_.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
      RaiseFileError("Cannot open the error log", fileName_, error);
    exit.Result("no file");
    return;
  }
  const std::string content = ReadLogContent(file.get(), fileName_);
  file.reset();
  entries_ = ParseLogEntries(content);
  exit.Result("read");
}

void TLogFile::Save() {
  TraceEnter("TLogFile.Save", {fileName_, static_cast<int>(entries_.size())});
  TTraceExit exit("TLogFile.Save");
  const std::string text = GetText();
  const std::string temp = LogSaveTempName(fileName_);
  DWORD error = 0;
  switch (WriteTempFile(temp, text, error)) {
    case TTempWrite::Written:
      if (ReplaceLog(temp, fileName_)) {
        exit.Result("replaced");
        return;
      }
      DeleteFileA(temp.c_str());
      break;
    case TTempWrite::CannotCreate:
      // No room for another file: writing the log in place could cut it. Otherwise (no right to
      // create files in that folder) the log itself is all there is to write.
      if (error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL)
        RaiseFileError("Cannot write the error log", temp, error);
      break;
    case TTempWrite::Failed:  // a full disk: the previous log stays as it was
      RaiseFileError("Cannot write the error log", temp, error);
  }
  WriteInPlace(fileName_, text);
  exit.Result("in place");
}

}  // namespace pelloran::crashlog
