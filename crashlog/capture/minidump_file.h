#pragma once
// The minidump beside a report: its file name, which of a log's dumps are kept, and the memory
// added to a dump the system wrote. Pure (no platform headers): the dump is a byte buffer here.
//
// The system's writer may ignore the flags and the callback that ask for more memory (Wine's
// does), so the reporter adds its own ranges afterwards: the parts that the dump lacks are
// appended with a new memory list; where a range replaces what the dump holds (a stack copy kept
// at the raise, which the live stack has since overwritten), its bytes are written over it.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "crashlog/infra/diagnostics/diagnostics_time.h"

namespace pelloran::crashlog {

// The stream types and layout sizes of the minidump format that the reporter reads and writes.
namespace minidump {
inline constexpr std::uint32_t kSignature = 0x504D444D;  // "MDMP"
inline constexpr std::size_t kHeaderSize = 32;
inline constexpr std::size_t kDirectoryEntrySize = 12;
inline constexpr std::size_t kMemoryDescriptorSize = 16;
inline constexpr std::uint32_t kUnusedStream = 0;
inline constexpr std::uint32_t kThreadListStream = 3;
inline constexpr std::uint32_t kModuleListStream = 4;
inline constexpr std::uint32_t kMemoryListStream = 5;
inline constexpr std::uint32_t kExceptionStream = 6;
}  // namespace minidump

// Memory for a dump: `Bytes` as they lie at `Address`. `Replace`: these bytes are truer than what
// the dump holds at the same addresses (a copy kept before the live memory was overwritten).
struct TDumpMemory {
  std::uint64_t Address = 0;
  std::vector<std::uint8_t> Bytes;
  bool Replace = false;
};

// Adds `memory` to the dump: replaced bytes written over the dump's own, and every part the dump
// does not hold yet appended (the memory list is written anew at the end, sorted by address,
// without overlaps). False when `dump` is no minidump or its directories do not fit in it; the
// dump is then left as it was.
bool AddDumpMemory(std::vector<std::uint8_t>& dump, std::span<const TDumpMemory> memory);

// The exception stream: the thread it names and that thread's registers (an x86 CONTEXT, as
// many bytes as the format's thread contexts hold). Written by the reporter, because the system's
// writer gives the exception's registers to the thread that writes the dump (Wine's does),
// whereas the error's thread is another one when a worker reports for the main thread.
struct TDumpException {
  std::uint32_t ThreadId = 0;
  std::uint32_t Code = 0;
  std::uint64_t Address = 0;
  std::span<const std::uint8_t> Context;
};
// Replaces the dump's exception stream, or adds one (in an unused directory entry, else in a new
// directory at the end). False when `dump` is no minidump; it is then left as it was.
bool SetDumpException(std::vector<std::uint8_t>& dump, const TDumpException& exception);

// The memory ranges a dump holds, from its memory list, sorted by address.
struct TDumpRange {
  std::uint64_t Address = 0;
  std::uint32_t Size = 0;
  std::uint32_t Rva = 0;
};
std::vector<TDumpRange> DumpMemoryRanges(std::span<const std::uint8_t> dump);

// "<log file without .elf>-<yyyymmdd-hhmmss>-<pid>-<n>.dmp", beside the log: the report's time,
// the process and the number of the report in this process, so that no two reports share a name.
std::string DumpFileName(std::string_view logFile, const TLocalTime& time, std::uint32_t processId,
                         std::uint32_t number);
// The pattern of the dumps of `logFile` (for a directory search): "<log without .elf>-*.dmp".
std::string DumpFilePattern(std::string_view logFile);
// Whether `fileName` (without folder) is a dump named by DumpFileName for a log of `logStem` (the
// log's file name without folder and ".elf").
bool IsDumpFileName(std::string_view logStem, std::string_view fileName);

// A dump file as found beside the log, with its last-write time.
struct TDumpFileEntry {
  std::string Name;
  std::uint64_t WriteTime = 0;
};
// The dumps beyond the newest `keep` (at least 1 is kept), oldest first: to be removed.
std::vector<std::string> DumpFilesToRemove(std::vector<TDumpFileEntry> files, int keep);

}  // namespace pelloran::crashlog
