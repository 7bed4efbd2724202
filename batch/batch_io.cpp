#include "batch/batch_io.h"

#include <windows.h>
#include <shellapi.h>

#include <cwchar>

#include "batch/control_files.h"
#include "base/exceptions.h"
#include "runtime/scoped_handle.h"
#include "runtime/wide_text.h"

namespace pelloran {

namespace {

std::string SystemErrorText(DWORD code) {
  char* buffer = nullptr;
  DWORD length = ::FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
  std::string text = length ? std::string(buffer, length) : std::string();
  if (buffer) ::LocalFree(buffer);
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' '))
    text.pop_back();
  return text;
}

[[noreturn]] void RaiseInOutError(const std::string& path, DWORD code) {
  std::string message = "I/O error " + std::to_string(code);
  std::string detail = SystemErrorText(code);
  if (!detail.empty()) message += ": " + detail;
  message += " (" + path + ")";
  throw EInOutError(message, code);
}

}  // namespace

std::string ExeDir() {
  std::string path(MAX_PATH, '\0');
  for (;;) {
    DWORD got = ::GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (got == 0) return {};
    if (got < path.size()) {
      path.resize(got);
      break;
    }
    path.resize(path.size() * 2);
  }
  size_t delimiter = LastPathDelimiter(path, AnsiLeadBytes());
  return delimiter == std::string::npos ? std::string() : path.substr(0, delimiter + 1);
}

const LeadByteTable& AnsiLeadBytes() {
  static const LeadByteTable table = [] {
    LeadByteTable t{};
    for (int c = 0; c < 256; ++c) t[static_cast<size_t>(c)] = ::IsDBCSLeadByte(static_cast<BYTE>(c)) != FALSE;
    return t;
  }();
  return table;
}

bool FileExists(const std::string& path) {
  DWORD attributes = ::GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool FileExists(const std::wstring& path) {
  // A name the code page can write goes the way it always went.
  if (auto ansi = ExactAnsi(path)) return FileExists(*ansi);
  DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool FolderExists(const std::wstring& path) {
  DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

namespace {

int64_t SizeFromAttributes(BOOL got, const WIN32_FILE_ATTRIBUTE_DATA& data, const std::string& shownPath) {
  if (!got) {
    DWORD code = ::GetLastError();
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND || code == ERROR_INVALID_NAME)
      return 0;
    RaiseInOutError(shownPath, code);
  }
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return 0;
  return static_cast<int64_t>((static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
}

}  // namespace

int64_t FileSizeOf(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  BOOL got = ::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data);
  return SizeFromAttributes(got, data, path);
}

int64_t FileSizeOf(const std::wstring& path) {
  if (auto ansi = ExactAnsi(path)) return FileSizeOf(*ansi);
  WIN32_FILE_ATTRIBUTE_DATA data{};
  BOOL got = ::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
  return SizeFromAttributes(got, data, WideToAnsi(path));
}

unsigned long CheckReadable(const std::wstring& path) {
  ScopedFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  return file ? 0 : ::GetLastError();
}

unsigned long CheckFolderWritable(const std::wstring& folder) {
  static unsigned serial = 0;
  wchar_t name[64];
  swprintf(name, 64, L"~Pelloran-check-%lx-%x.tmp", static_cast<unsigned long>(::GetCurrentProcessId()),
           ++serial);
  ScopedFileHandle file(::CreateFileW((folder + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
  return file ? 0 : ::GetLastError();
}

unsigned long RenameFile(const std::wstring& from, const std::wstring& to) {
  if (::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)) return 0;
  return ::GetLastError();
}

std::wstring SystemErrorTextW(unsigned long code) {
  wchar_t* buffer = nullptr;
  DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring text = length ? std::wstring(buffer, length) : std::wstring();
  if (buffer) ::LocalFree(buffer);
  for (wchar_t& c : text)
    if (c == L'\r' || c == L'\n') c = L' ';
  while (!text.empty() && text.back() == L' ') text.pop_back();
  return text;
}

void WriteWholeFile(const std::string& path, const std::string& bytes) {
  ScopedFileHandle file(::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) RaiseInOutError(path, ::GetLastError());
  DWORD written = 0;
  if (!::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr))
    RaiseInOutError(path, ::GetLastError());
  if (written != bytes.size()) RaiseInOutError(path, ERROR_DISK_FULL);
  if (!::CloseHandle(file.release())) RaiseInOutError(path, ::GetLastError());
}

std::string ReadWholeFile(const std::string& path) {
  ScopedFileHandle file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return {};
  std::string content;
  char buffer[64 * 1024];
  DWORD got = 0;
  while (::ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr) && got > 0)
    content.append(buffer, got);
  return content;
}

void DeleteFileQuietly(const std::string& path) { ::DeleteFileA(path.c_str()); }
void DeleteFileQuietly(const std::wstring& path) { ::DeleteFileW(path.c_str()); }

void WriteEventsFile() { WriteWholeFile(ExeDir() + kEventsFileName, EventsFileText()); }
void WriteImageMapFile() { WriteWholeFile(ExeDir() + kImageMapFileName, ImageMapFileText()); }

void ShellOpen(const std::string& target) {
  ::ShellExecuteA(nullptr, "OPEN", target.c_str(), "", "", SW_SHOWNORMAL);
}

}  // namespace pelloran
