#include "batch/rmevents/file_win.h"

#include <algorithm>

#include "base/exceptions.h"

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
std::string SystemMessage(DWORD code) {
  char buffer[512] = {};
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           code, 0, buffer, sizeof buffer, nullptr);
  std::string text(buffer, n);
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' '))
    text.pop_back();
  for (char& c : text)
    if (c == '\r' || c == '\n') c = ' ';
  std::string result = "system error " + std::to_string(code);
  if (!text.empty()) result += ": " + text;
  return result;
}

[[noreturn]] void RaiseLastError(const std::string& what) {
  DWORD code = GetLastError();
  throw EInOutError(what + " (" + SystemMessage(code) + ")", code);
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
  WindowsInput(ScopedFileHandle file, uint64_t size, std::string name)
      : file_(std::move(file)), size_(size), name_(std::move(name)) {}
  uint64_t Size() const override { return size_; }

  size_t ReadAt(uint64_t offset, void* buffer, size_t n) override {
    if (offset != pointer_) {
      if (!MoveFilePointer(file_.get(), offset)) RaiseLastError("reading \"" + name_ + "\" failed");
      pointer_ = offset;
    }
    DWORD got = 0;
    DWORD want = static_cast<DWORD>(std::min<size_t>(n, 1u << 30));
    if (!ReadFile(file_.get(), buffer, want, &got, nullptr))
      RaiseLastError("reading \"" + name_ + "\" failed");
    pointer_ += got;
    return got;
  }

 private:
  ScopedFileHandle file_;
  uint64_t size_;
  std::string name_;
  uint64_t pointer_ = 0;
};

class WindowsOutput : public WritableFile {
 public:
  WindowsOutput(ScopedFileHandle file, std::string name)
      : file_(std::move(file)), name_(std::move(name)) {}

  void Write(const void* data, size_t n) override {
    WriteAt(end_, data, n);
    end_ += n;
  }

  void WriteAt(uint64_t offset, const void* data, size_t n) override {
    if (offset != pointer_) {
      if (!MoveFilePointer(file_.get(), offset)) RaiseLastError("writing \"" + name_ + "\" failed");
      pointer_ = offset;
    }
    const char* p = static_cast<const char*>(data);
    while (n > 0) {
      DWORD put = 0;
      DWORD step = static_cast<DWORD>(std::min<size_t>(n, 1u << 30));
      if (!WriteFile(file_.get(), p, step, &put, nullptr) || put == 0)
        RaiseLastError("writing \"" + name_ + "\" failed");
      p += put;
      pointer_ += put;
      n -= put;
    }
  }

  void Close() override {
    if (!CloseHandle(file_.release())) RaiseLastError("closing \"" + name_ + "\" failed");
  }

 private:
  ScopedFileHandle file_;
  std::string name_;
  uint64_t end_ = 0;
  uint64_t pointer_ = 0;
};

ScopedFileHandle OpenForIdentity(const std::wstring& path) {
  return ScopedFileHandle(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

}  // namespace

std::unique_ptr<InputFile> WindowsEnvironment::OpenInput(const std::wstring& path) {
  std::string name = Ansi(path);
  // Others may read the input meanwhile, nobody may change it.
  ScopedFileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file) RaiseLastError("the input file \"" + name + "\" cannot be opened");
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file.get(), &size)) RaiseLastError("the size of \"" + name + "\" is unknown");
  return std::make_unique<WindowsInput>(std::move(file), static_cast<uint64_t>(size.QuadPart),
                                        std::move(name));
}

std::unique_ptr<WritableFile> WindowsEnvironment::CreateOutput(const std::wstring& path) {
  std::string name = Ansi(path);
  // The batch runner measures the output while it grows, and opens it for reading and writing
  // to do so: share everything.
  ScopedFileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) RaiseLastError("the output file \"" + name + "\" cannot be created");
  return std::make_unique<WindowsOutput>(std::move(file), std::move(name));
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
  ScopedFileHandle fa = OpenForIdentity(a);
  ScopedFileHandle fb = OpenForIdentity(b);
  BY_HANDLE_FILE_INFORMATION ia, ib;
  if (!fa || !fb || !GetFileInformationByHandle(fa.get(), &ia) ||
      !GetFileInformationByHandle(fb.get(), &ib))
    return false;
  return ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
         ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow;
}

bool WindowsEnvironment::RemoveFile(const std::wstring& path) {
  // The batch runner may hold the file open for a moment to measure it: try again briefly.
  for (int attempt = 0; attempt < 50; ++attempt) {
    if (DeleteFileW(path.c_str())) return true;
    DWORD code = GetLastError();
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return true;
    if (code != ERROR_SHARING_VIOLATION && code != ERROR_ACCESS_DENIED) break;
    Sleep(100);
  }
  return GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES;
}

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
