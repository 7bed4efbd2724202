#include "crashlog/capture/minidump.h"

#include <windows.h>
#include <dbghelp.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "base/ansi_path.h"
#include "base/pe_headers.h"
#include "crashlog/capture/minidump_file.h"
#include "crashlog/infra/diagnostics/readable_memory.h"
#include "crashlog/infra/diagnostics/trace.h"
#include "runtime/scoped_handle.h"

namespace pelloran::crashlog {

namespace {

// A code of the customer range (bit 29) for what is no system exception: a C++ exception, a freeze.
constexpr std::uint32_t kReportedExceptionCode = 0xE04C4F47;
// A writable data section larger than this is dumped only up to it.
constexpr std::size_t kMaxSectionBytes = 4u << 20;
// Around each register's target: a little before, more after (a structure, a string).
constexpr std::uintptr_t kBeforeRegister = 64;
constexpr std::uintptr_t kAfterRegister = 192;
// From the stack pointer of the error's registers up: enough for the frames a debugger shows.
constexpr std::size_t kRaiseStackBytes = 64u << 10;

using TMiniDumpWriteDump = BOOL(WINAPI*)(HANDLE, DWORD, HANDLE, MINIDUMP_TYPE, PMINIDUMP_EXCEPTION_INFORMATION,
                                          PMINIDUMP_USER_STREAM_INFORMATION, PMINIDUMP_CALLBACK_INFORMATION);
using TSymGetOptions = DWORD(WINAPI*)();
using TSymSetOptions = DWORD(WINAPI*)(DWORD);

// The system's writer, loaded when the first dump is written: a program that never writes one
// does not load the debugging library at start-up.
struct TDumpLibrary {
  TMiniDumpWriteDump Write = nullptr;
  TSymGetOptions GetOptions = nullptr;
  TSymSetOptions SetOptions = nullptr;
};
const TDumpLibrary& DumpLibrary() {
  static const TDumpLibrary library = [] {
    TDumpLibrary loaded;
    if (HMODULE dbghelp = ::LoadLibraryA("dbghelp.dll")) {
      loaded.Write = reinterpret_cast<TMiniDumpWriteDump>(reinterpret_cast<void*>(::GetProcAddress(dbghelp, "MiniDumpWriteDump")));
      loaded.GetOptions = reinterpret_cast<TSymGetOptions>(reinterpret_cast<void*>(::GetProcAddress(dbghelp, "SymGetOptions")));
      loaded.SetOptions = reinterpret_cast<TSymSetOptions>(reinterpret_cast<void*>(::GetProcAddress(dbghelp, "SymSetOptions")));
    }
    return loaded;
  }();
  return library;
}

// Live memory of this process, as much of [address, address + size) as is readable from its start.
TDumpMemory ReadLive(std::uintptr_t address, std::size_t size, bool replace = false) {
  TDumpMemory memory;
  memory.Address = address;
  memory.Replace = replace;
  const std::size_t readable = ReadableExtent(address, size);
  memory.Bytes.assign(reinterpret_cast<const std::uint8_t*>(address), reinterpret_cast<const std::uint8_t*>(address) + readable);
  return memory;
}

// The writable data sections (data, BSS) of a loaded module: what its globals read from.
void AddDataSections(HMODULE module, std::vector<TDumpMemory>& memory) {
  const auto base = reinterpret_cast<std::uintptr_t>(module);
  const std::size_t headers = ReadableExtent(base, 4096);
  const TPeView view({reinterpret_cast<const std::uint8_t*>(base), headers});
  TPeFileHeader file;
  if (!view.Valid() || !view.ReadFileHeader(file)) return;
  for (std::size_t i = 0; i < file.NumberOfSections; ++i) {
    TPeSectionHeader section;
    if (!view.ReadSectionHeader(i, section)) return;
    if ((section.Characteristics & IMAGE_SCN_MEM_WRITE) == 0 || (section.Characteristics & IMAGE_SCN_MEM_EXECUTE) != 0) continue;
    const std::size_t size = std::min<std::size_t>(std::max(section.VirtualSize, section.SizeOfRawData), kMaxSectionBytes);
    TDumpMemory data = ReadLive(base + section.VirtualAddress, size);
    if (!data.Bytes.empty()) memory.push_back(std::move(data));
  }
}

void AddRegisterTargets(const CONTEXT& context, std::vector<TDumpMemory>& memory) {
  for (const DWORD value : {context.Eax, context.Ebx, context.Ecx, context.Edx, context.Esi, context.Edi, context.Ebp,
                            context.Eip}) {
    if (value < 0x10000) continue;
    const std::uintptr_t from = value - std::min<std::uintptr_t>(value, kBeforeRegister);
    // Start where memory becomes readable, for a target near the start of a region.
    std::uintptr_t start = from;
    while (start < value && !IsReadable(start, 1)) start = (start | 0xFFF) + 1;
    TDumpMemory around = ReadLive(start, value + kAfterRegister - start);
    if (!around.Bytes.empty()) memory.push_back(std::move(around));
  }
}

// What the reporter adds to the system's dump, in this order: the stack copy (replacing), the
// program's data sections, the memory the registers point to.
std::vector<TDumpMemory> ExtraMemory(const TMiniDumpRequest& request) {
  std::vector<TDumpMemory> memory;
  if (request.StackOrigin != 0 && request.StackCopy != nullptr && request.StackCopySize != 0) {
    TDumpMemory copy;
    copy.Address = request.StackOrigin;
    copy.Bytes.assign(request.StackCopy, request.StackCopy + request.StackCopySize);
    copy.Replace = true;
    memory.push_back(std::move(copy));
  }
  AddDataSections(::GetModuleHandleA(nullptr), memory);
  HMODULE own = nullptr;
  if (::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           reinterpret_cast<LPCSTR>(&WriteMiniDump), &own) &&
      own != ::GetModuleHandleA(nullptr))
    AddDataSections(own, memory);
  if (request.Context != nullptr) {
    const auto& context = *static_cast<const CONTEXT*>(request.Context);
    // The stack from the registers' stack pointer on: the system's writer dumps each thread's
    // stack from where the thread stands now, which for the main thread waiting in the reporter
    // can lie above the raise.
    std::size_t span = kRaiseStackBytes;
    if (request.StackBase > context.Esp) span = std::min<std::size_t>(span, request.StackBase - context.Esp);
    memory.push_back(ReadLive(context.Esp, span));
    AddRegisterTargets(context, memory);
  }
  return memory;
}

// The same ranges offered to the system's writer; one that honours the callback then holds them
// already, and the reporter adds nothing.
struct TCallbackState {
  const std::vector<TDumpMemory>* Memory = nullptr;
  std::size_t Next = 0;
};
BOOL CALLBACK DumpCallback(PVOID param, const PMINIDUMP_CALLBACK_INPUT input, PMINIDUMP_CALLBACK_OUTPUT output) {
  auto* state = static_cast<TCallbackState*>(param);
  if (input == nullptr || output == nullptr) return FALSE;
  if (input->CallbackType != MemoryCallback) return TRUE;
  while (state->Next < state->Memory->size()) {
    const TDumpMemory& piece = (*state->Memory)[state->Next++];
    if (piece.Replace) continue;  // the live bytes are the wrong ones
    output->MemoryBase = static_cast<ULONG64>(piece.Address);
    output->MemorySize = static_cast<ULONG>(piece.Bytes.size());
    return TRUE;
  }
  return FALSE;
}

bool ReadWholeFile(HANDLE file, std::vector<std::uint8_t>& bytes) {
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file, &size) || size.QuadPart > 0x7FFFFFFF) return false;
  bytes.resize(static_cast<std::size_t>(size.QuadPart));
  DWORD read = 0;
  return ::SetFilePointer(file, 0, nullptr, FILE_BEGIN) == 0 &&
         ::ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) && read == bytes.size();
}

bool RewriteFile(HANDLE file, const std::vector<std::uint8_t>& bytes) {
  DWORD written = 0;
  return ::SetFilePointer(file, 0, nullptr, FILE_BEGIN) == 0 &&
         ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size() && ::SetEndOfFile(file);
}

double ElapsedMilliseconds(const LARGE_INTEGER& start) {
  LARGE_INTEGER now{}, frequency{};
  ::QueryPerformanceCounter(&now);
  ::QueryPerformanceFrequency(&frequency);
  return frequency.QuadPart != 0 ? static_cast<double>(now.QuadPart - start.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart) : 0;
}

}  // namespace

TMiniDumpResult WriteMiniDump(const TMiniDumpRequest& request) {
  TraceEnter("WriteMiniDump", {request.ThreadId});
  TMiniDumpResult result;
  const TDumpLibrary& library = DumpLibrary();
  if (library.Write == nullptr) {
    TraceLeave("WriteMiniDump", {false});
    return result;
  }
  // Without deferred loading the system's writer reads the debug information of every module it
  // lists (seconds under Wine); the dump needs none of it.
  if (library.GetOptions != nullptr && library.SetOptions != nullptr)
    library.SetOptions(library.GetOptions() | SYMOPT_DEFERRED_LOADS);

  LARGE_INTEGER start{};
  ::QueryPerformanceCounter(&start);
  const std::vector<TDumpMemory> extra = ExtraMemory(request);
  ScopedFileHandle file(::CreateFileA(request.Path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file) {
    TCallbackState state{&extra, 0};
    MINIDUMP_CALLBACK_INFORMATION callback{&DumpCallback, &state};
    std::vector<std::uint8_t> bytes;
    result.Written = library.Write(::GetCurrentProcess(), ::GetCurrentProcessId(), file.get(), MiniDumpNormal, nullptr,
                                   nullptr, &callback) &&
                     ReadWholeFile(file.get(), bytes) && AddDumpMemory(bytes, extra);
    if (result.Written && request.Context != nullptr) {
      const auto* context = static_cast<const CONTEXT*>(request.Context);
      TDumpException exception;
      exception.ThreadId = request.ThreadId;
      exception.Code = request.ExceptionCode != 0 ? request.ExceptionCode : kReportedExceptionCode;
      exception.Address = request.ExceptionAddress != 0 ? request.ExceptionAddress : context->Eip;
      exception.Context = {reinterpret_cast<const std::uint8_t*>(context), sizeof(CONTEXT)};
      result.Written = SetDumpException(bytes, exception);
    }
    result.Written = result.Written && RewriteFile(file.get(), bytes);
    result.Size = bytes.size();
    file.reset();
    if (!result.Written) ::DeleteFileA(request.Path.c_str());
  }
  result.Milliseconds = ElapsedMilliseconds(start);
  TraceLeave("WriteMiniDump", {result.Written, static_cast<std::uint32_t>(result.Size),
                               static_cast<std::uint32_t>(result.Milliseconds)});
  return result;
}

void RemoveOldDumps(const std::string& logFile, int keep) {
  const std::string pattern = DumpFilePattern(logFile);
  const std::string folder = pattern.substr(0, pattern.size() - AnsiFileNamePart(pattern).size());
  std::string stem(AnsiFileNamePart(logFile));
  if (stem.size() >= 4 && AsciiUpper(stem.substr(stem.size() - 4)) == ".ELF") stem.resize(stem.size() - 4);
  std::vector<TDumpFileEntry> files;
  WIN32_FIND_DATAA found{};
  ScopedFindHandle search(::FindFirstFileA(pattern.c_str(), &found));
  if (!search) return;
  do {
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || !IsDumpFileName(stem, found.cFileName)) continue;
    const std::uint64_t time = std::uint64_t{found.ftLastWriteTime.dwHighDateTime} << 32 | found.ftLastWriteTime.dwLowDateTime;
    files.push_back({found.cFileName, time});
  } while (::FindNextFileA(search.get(), &found));
  search.reset();
  for (const std::string& name : DumpFilesToRemove(std::move(files), keep)) ::DeleteFileA((folder + name).c_str());
}

}  // namespace pelloran::crashlog
