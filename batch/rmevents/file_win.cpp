#include "batch/rmevents/file_win.h"

#include <algorithm>

#include "base/exceptions.h"
#include "batch/rmevents/partial_output.h"
#include "batch/rmevents/same_file_win.h"

namespace pelloran::rmevents {
namespace {

std::string Ansi(const std::wstring& text) {
  if (text.empty()) return {};
  int n = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                              nullptr, nullptr);
  std::string out(static_cast<size_t>(std::max(n, 0)), '\0');
  if (n > 0)
    WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                        nullptr, nullptr);
  return out;
}

// The system's own wording of an error, on one line.
std::string SystemMessage(LogLanguage lang, DWORD code) {
  char buffer[512] = {};
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           code, 0, buffer, sizeof buffer, nullptr);
  std::string text(buffer, n);
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' '))
    text.pop_back();
  for (char& c : text)
    if (c == '\r' || c == '\n') c = ' ';
  std::string result = Say(lang, "system error ", "系统错误 ") + std::to_string(code);
  if (!text.empty()) result += Say(lang, ": ", "：") + text;
  return result;
}

[[noreturn]] void RaiseLastError(LogLanguage lang, const std::string& what) {
  DWORD code = GetLastError();
  throw EInOutError(what + Say(lang, " (", "（") + SystemMessage(lang, code) + Say(lang, ")", "）"),
                    code);
}

std::string Reading(LogLanguage lang, const std::string& name) {
  return Say(lang, "reading \"", "读取 \"") + name + Say(lang, "\" failed", "\" 失败");
}

std::string Writing(LogLanguage lang, const std::string& name) {
  return Say(lang, "writing \"", "写入 \"") + name + Say(lang, "\" failed", "\" 失败");
}

// Under Wine a read or write that names its offset (OVERLAPPED) costs a round trip to the
// server, as much as the copy of a megabyte; one at the file pointer does not. So both files
// follow their file pointer and move it only when the cleaner jumps.
bool MoveFilePointer(HANDLE file, uint64_t to) {
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(to);
  return SetFilePointerEx(file, at, nullptr, FILE_BEGIN) != 0;
}

class WindowsInput : public InputFile {
 public:
  WindowsInput(ScopedFileHandle file, uint64_t size, std::string name, LogLanguage lang)
      : file_(std::move(file)), size_(size), name_(std::move(name)), lang_(lang) {}
  uint64_t Size() const override { return size_; }

  size_t ReadAt(uint64_t offset, void* buffer, size_t n) override {
    if (offset != pointer_) {
      if (!MoveFilePointer(file_.get(), offset)) RaiseLastError(lang_, Reading(lang_, name_));
      pointer_ = offset;
    }
    DWORD got = 0;
    DWORD want = static_cast<DWORD>(std::min<size_t>(n, 1u << 30));
    if (!ReadFile(file_.get(), buffer, want, &got, nullptr))
      RaiseLastError(lang_, Reading(lang_, name_));
    pointer_ += got;
    return got;
  }

 private:
  ScopedFileHandle file_;
  uint64_t size_;
  std::string name_;
  LogLanguage lang_;
  uint64_t pointer_ = 0;
};

class WindowsOutput : public WritableFile {
 public:
  WindowsOutput(ScopedFileHandle file, std::wstring partial, std::wstring final, std::string name,
                LogLanguage lang)
      : file_(std::move(file)), partial_(std::move(partial)), final_(std::move(final)),
        name_(std::move(name)), lang_(lang) {}
  ~WindowsOutput() override { Discard(); }

  void Write(const void* data, size_t n) override {
    WriteAt(end_, data, n);
    end_ += n;
  }

  void WriteAt(uint64_t offset, const void* data, size_t n) override {
    if (offset != pointer_) {
      if (!MoveFilePointer(file_.get(), offset)) RaiseLastError(lang_, Writing(lang_, name_));
      pointer_ = offset;
    }
    const char* p = static_cast<const char*>(data);
    while (n > 0) {
      DWORD put = 0;
      DWORD step = static_cast<DWORD>(std::min<size_t>(n, 1u << 30));
      if (!WriteFile(file_.get(), p, step, &put, nullptr) || put == 0)
        RaiseLastError(lang_, Writing(lang_, name_));
      p += put;
      pointer_ += put;
      n -= put;
    }
  }

  void Commit() override {
    if (!FlushFileBuffers(file_.get())) RaiseLastError(lang_, Writing(lang_, name_));
    // Moved while still open (it was opened sharing deletion), so that until the move nobody
    // else can take its name; an older output is replaced only now.
    if (!MoveFileExW(partial_.c_str(), final_.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
      RaiseLastError(lang_, Say(lang_, "the output file \"", "无法把输出文件 \"") + Ansi(final_) +
                                Say(lang_, "\" cannot be put in place", "\" 放到位"));
    committed_ = true;
    file_.reset();  // flushed already: a failing close loses nothing
  }

  bool Discard() override {
    if (committed_ || !file_) return true;
    // By the handle that created it: whatever else the name may come to mean, only this file
    // goes.
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    const bool marked = SetFileInformationByHandle(file_.get(), FileDispositionInfo, &disposition,
                                                   sizeof disposition) != 0;
    file_.reset();
    return marked;
  }

 private:
  ScopedFileHandle file_;
  std::wstring partial_;
  std::wstring final_;
  std::string name_;
  LogLanguage lang_;
  uint64_t end_ = 0;
  uint64_t pointer_ = 0;
  bool committed_ = false;
};

}  // namespace

std::unique_ptr<InputFile> WindowsEnvironment::OpenInput(const std::wstring& path) {
  std::string name = Ansi(path);
  // Others may read the input meanwhile, nobody may change it.
  ScopedFileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file)
    RaiseLastError(lang_, Say(lang_, "the input file \"", "无法打开输入文件 \"") + name +
                              Say(lang_, "\" cannot be opened", "\""));
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file.get(), &size))
    RaiseLastError(lang_, Say(lang_, "the size of \"", "无法得知 \"") + name +
                              Say(lang_, "\" is unknown", "\" 的大小"));
  return std::make_unique<WindowsInput>(std::move(file), static_cast<uint64_t>(size.QuadPart),
                                        std::move(name), lang_);
}

std::unique_ptr<WritableFile> WindowsEnvironment::CreateOutput(const std::wstring& path) {
  const std::wstring partial = PartialOutputPath(path);
  std::string name = Ansi(partial);
  // A new file of its own, never one that is there already (a user's file of that name, or what
  // a killed run left: the runner removes those). The runner only reads its size; deletion is
  // shared so that the finished file can be moved while still open.
  ScopedFileHandle file(CreateFileW(partial.c_str(), GENERIC_WRITE | DELETE,
                                    FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    if (GetLastError() == ERROR_FILE_EXISTS)
      RaiseLastError(lang_, Say(lang_, "the partial output file \"", "未完成的输出文件 \"") + name +
                                Say(lang_, "\" is in the way", "\" 已存在，挡住了输出"));
    RaiseLastError(lang_, Say(lang_, "the output file \"", "无法创建输出文件 \"") + name +
                              Say(lang_, "\" cannot be created", "\""));
  }
  return std::make_unique<WindowsOutput>(std::move(file), partial, path, std::move(name), lang_);
}

std::optional<std::string> WindowsEnvironment::ReadSmallFile(const std::wstring& path,
                                                             size_t maxBytes) {
  ScopedFileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return std::nullopt;
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file.get(), &size) || size.QuadPart > static_cast<LONGLONG>(maxBytes))
    return std::nullopt;
  std::string text(static_cast<size_t>(size.QuadPart), '\0');
  DWORD got = 0;
  if (!text.empty() && (!ReadFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &got,
                                  nullptr) ||
                        got != text.size()))
    return std::nullopt;
  return text;
}

bool WindowsEnvironment::SameFile(const std::wstring& a, const std::wstring& b) {
  return IsSameFile(a, b);
}

uint64_t WindowsEnvironment::Milliseconds() { return GetTickCount64(); }

std::string WindowsEnvironment::DisplayPath(const std::wstring& path) { return Ansi(path); }

bool FileRunLog::Open(const std::wstring& path) {
  file_.reset(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, nullptr));
  return file_.valid();
}

void FileRunLog::Line(const std::string& text) {
  std::string line = text + "\r\n";
  DWORD put = 0;
  // Nothing can report a failing log; the run goes on and its exit status still tells. One
  // write a line: the C runtime's text mode writes a pipe byte by byte, and under Wine each
  // write of a console or pipe is a round trip to the server.
  HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
  if (console != nullptr && console != INVALID_HANDLE_VALUE)
    WriteFile(console, line.data(), static_cast<DWORD>(line.size()), &put, nullptr);
  if (file_) WriteFile(file_.get(), line.data(), static_cast<DWORD>(line.size()), &put, nullptr);
}

}  // namespace pelloran::rmevents
