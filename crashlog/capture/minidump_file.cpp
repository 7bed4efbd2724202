#include "crashlog/capture/minidump_file.h"

#include <algorithm>
#include <cstdio>

#include "base/ansi_path.h"
#include "base/byte_stream_le.h"

namespace pelloran::crashlog {

namespace {

using minidump::kDirectoryEntrySize;
using minidump::kMemoryDescriptorSize;

struct TDirectoryEntry {
  std::uint32_t StreamType = 0;
  std::uint32_t DataSize = 0;
  std::uint32_t Rva = 0;
  std::size_t At = 0;  // where the entry itself lies in the file
};

struct TDumpLayout {
  std::vector<TDirectoryEntry> Directory;
  std::vector<TDumpRange> Ranges;  // in file order
  int MemoryListEntry = -1;        // index into Directory
};

// Header, directory and memory list, each checked to lie inside the dump.
bool ReadLayout(std::span<const std::uint8_t> dump, TDumpLayout& layout) {
  TByteReader header(dump);
  std::uint32_t signature = 0, version = 0, streams = 0, directoryRva = 0;
  header.ReadU32(signature);
  header.ReadU32(version);
  header.ReadU32(streams);
  header.ReadU32(directoryRva);
  if (!header.Ok() || signature != minidump::kSignature || directoryRva > dump.size() ||
      streams > (dump.size() - directoryRva) / kDirectoryEntrySize)
    return false;
  TByteReader directory(dump.subspan(directoryRva));
  for (std::uint32_t i = 0; i < streams; ++i) {
    TDirectoryEntry entry;
    entry.At = directoryRva + i * kDirectoryEntrySize;
    directory.ReadU32(entry.StreamType);
    directory.ReadU32(entry.DataSize);
    directory.ReadU32(entry.Rva);
    if (entry.StreamType == minidump::kMemoryListStream && layout.MemoryListEntry < 0)
      layout.MemoryListEntry = static_cast<int>(i);
    layout.Directory.push_back(entry);
  }
  if (!directory.Ok()) return false;
  if (layout.MemoryListEntry < 0) return true;
  const TDirectoryEntry& list = layout.Directory[static_cast<std::size_t>(layout.MemoryListEntry)];
  if (list.Rva > dump.size()) return false;
  TByteReader ranges(dump.subspan(list.Rva));
  std::uint32_t count = 0;
  if (!ranges.ReadU32(count) || count > ranges.Remaining() / kMemoryDescriptorSize) return false;
  for (std::uint32_t i = 0; i < count; ++i) {
    std::uint32_t low = 0, high = 0;
    TDumpRange range;
    ranges.ReadU32(low);
    ranges.ReadU32(high);
    ranges.ReadU32(range.Size);
    ranges.ReadU32(range.Rva);
    range.Address = std::uint64_t{high} << 32 | low;
    if (range.Rva > dump.size() || range.Size > dump.size() - range.Rva) return false;
    layout.Ranges.push_back(range);
  }
  return ranges.Ok();
}

void StoreU32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// The parts of [begin, end) that no range covers, ranges sorted by address.
std::vector<std::pair<std::uint64_t, std::uint64_t>> Uncovered(std::uint64_t begin, std::uint64_t end,
                                                               const std::vector<TDumpRange>& sorted) {
  std::vector<std::pair<std::uint64_t, std::uint64_t>> gaps;
  std::uint64_t at = begin;
  for (const TDumpRange& range : sorted) {
    const std::uint64_t rangeEnd = range.Address + range.Size;
    if (rangeEnd <= at) continue;
    if (range.Address >= end) break;
    if (range.Address > at) gaps.emplace_back(at, range.Address);
    at = std::max(at, rangeEnd);
    if (at >= end) break;
  }
  if (at < end) gaps.emplace_back(at, end);
  return gaps;
}

bool ByAddress(const TDumpRange& a, const TDumpRange& b) { return a.Address < b.Address; }

}  // namespace

std::vector<TDumpRange> DumpMemoryRanges(std::span<const std::uint8_t> dump) {
  TDumpLayout layout;
  if (!ReadLayout(dump, layout)) return {};
  std::sort(layout.Ranges.begin(), layout.Ranges.end(), ByAddress);
  return layout.Ranges;
}

bool AddDumpMemory(std::vector<std::uint8_t>& dump, std::span<const TDumpMemory> memory) {
  TDumpLayout layout;
  if (!ReadLayout(dump, layout)) return false;
  int listEntry = layout.MemoryListEntry;
  if (listEntry < 0) {
    // A dump without a memory list takes one in an unused directory entry.
    for (std::size_t i = 0; i < layout.Directory.size() && listEntry < 0; ++i)
      if (layout.Directory[i].StreamType == minidump::kUnusedStream) listEntry = static_cast<int>(i);
    if (listEntry < 0) return false;
  }
  std::vector<TDumpRange> ranges = layout.Ranges;
  std::sort(ranges.begin(), ranges.end(), ByAddress);

  // Replacements first, over the ranges as the system wrote them.
  for (const TDumpMemory& piece : memory) {
    if (!piece.Replace) continue;
    const std::uint64_t end = piece.Address + piece.Bytes.size();
    for (const TDumpRange& range : ranges) {
      const std::uint64_t from = std::max(range.Address, piece.Address);
      const std::uint64_t to = std::min<std::uint64_t>(range.Address + range.Size, end);
      if (from >= to) continue;
      std::copy_n(piece.Bytes.begin() + static_cast<std::ptrdiff_t>(from - piece.Address), to - from,
                  dump.begin() + static_cast<std::ptrdiff_t>(range.Rva + (from - range.Address)));
    }
  }
  // Then every part that no range holds yet, appended; later pieces see the earlier ones.
  bool added = false;
  for (const TDumpMemory& piece : memory) {
    const std::uint64_t end = piece.Address + piece.Bytes.size();
    for (const auto& [from, to] : Uncovered(piece.Address, end, ranges)) {
      if (dump.size() + (to - from) > 0xFFFFFFF0u) return added;
      while (dump.size() % 4 != 0) dump.push_back(0);
      TDumpRange range{from, static_cast<std::uint32_t>(to - from), static_cast<std::uint32_t>(dump.size())};
      const auto first = piece.Bytes.begin() + static_cast<std::ptrdiff_t>(from - piece.Address);
      dump.insert(dump.end(), first, first + static_cast<std::ptrdiff_t>(to - from));
      ranges.insert(std::upper_bound(ranges.begin(), ranges.end(), range, ByAddress), range);
      added = true;
    }
  }
  if (!added) return true;
  while (dump.size() % 4 != 0) dump.push_back(0);
  const auto listRva = static_cast<std::uint32_t>(dump.size());
  TByteWriter list;
  list.U32(static_cast<std::uint32_t>(ranges.size()));
  for (const TDumpRange& range : ranges) {
    list.U32(static_cast<std::uint32_t>(range.Address));
    list.U32(static_cast<std::uint32_t>(range.Address >> 32));
    list.U32(range.Size);
    list.U32(range.Rva);
  }
  dump.insert(dump.end(), list.Data().begin(), list.Data().end());
  const TDirectoryEntry& entry = layout.Directory[static_cast<std::size_t>(listEntry)];
  StoreU32(dump, entry.At, minidump::kMemoryListStream);
  StoreU32(dump, entry.At + 4, static_cast<std::uint32_t>(list.Size()));
  StoreU32(dump, entry.At + 8, listRva);
  return true;
}

bool SetDumpException(std::vector<std::uint8_t>& dump, const TDumpException& exception) {
  TDumpLayout layout;
  if (!ReadLayout(dump, layout)) return false;
  int slot = -1;
  for (std::size_t i = 0; i < layout.Directory.size() && slot < 0; ++i)
    if (layout.Directory[i].StreamType == minidump::kExceptionStream) slot = static_cast<int>(i);
  for (std::size_t i = 0; i < layout.Directory.size() && slot < 0; ++i)
    if (layout.Directory[i].StreamType == minidump::kUnusedStream) slot = static_cast<int>(i);

  while (dump.size() % 4 != 0) dump.push_back(0);
  const auto contextRva = static_cast<std::uint32_t>(dump.size());
  dump.insert(dump.end(), exception.Context.begin(), exception.Context.end());
  while (dump.size() % 4 != 0) dump.push_back(0);
  const auto streamRva = static_cast<std::uint32_t>(dump.size());
  TByteWriter stream;
  stream.U32(exception.ThreadId);
  stream.U32(0);  // alignment
  stream.U32(exception.Code);
  stream.U32(0);  // flags
  stream.U32(0);  // no nested record
  stream.U32(0);
  stream.U32(static_cast<std::uint32_t>(exception.Address));
  stream.U32(static_cast<std::uint32_t>(exception.Address >> 32));
  stream.U32(0);  // no parameters
  stream.U32(0);  // alignment
  for (int i = 0; i < 15 * 2; ++i) stream.U32(0);
  stream.U32(static_cast<std::uint32_t>(exception.Context.size()));
  stream.U32(contextRva);
  dump.insert(dump.end(), stream.Data().begin(), stream.Data().end());

  if (slot >= 0) {
    const std::size_t at = layout.Directory[static_cast<std::size_t>(slot)].At;
    StoreU32(dump, at, minidump::kExceptionStream);
    StoreU32(dump, at + 4, static_cast<std::uint32_t>(stream.Size()));
    StoreU32(dump, at + 8, streamRva);
    return true;
  }
  // No room: the directory again at the end, one entry longer.
  const auto directoryRva = static_cast<std::uint32_t>(dump.size());
  TByteWriter directory;
  for (const TDirectoryEntry& entry : layout.Directory) {
    directory.U32(entry.StreamType);
    directory.U32(entry.DataSize);
    directory.U32(entry.Rva);
  }
  directory.U32(minidump::kExceptionStream);
  directory.U32(static_cast<std::uint32_t>(stream.Size()));
  directory.U32(streamRva);
  dump.insert(dump.end(), directory.Data().begin(), directory.Data().end());
  StoreU32(dump, 8, static_cast<std::uint32_t>(layout.Directory.size() + 1));
  StoreU32(dump, 12, directoryRva);
  return true;
}

namespace {

std::string_view LogStem(std::string_view logFile) {
  std::string_view stem = AnsiFileNamePart(logFile);
  if (stem.size() >= 4 && AsciiUpper(stem.substr(stem.size() - 4)) == ".ELF") stem.remove_suffix(4);
  return stem;
}

std::string_view LogFolder(std::string_view logFile) {
  return logFile.substr(0, logFile.size() - AnsiFileNamePart(logFile).size());
}

bool AllDigits(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

std::string DumpFileName(std::string_view logFile, const TLocalTime& time, std::uint32_t processId,
                         std::uint32_t number) {
  char tail[64];
  std::snprintf(tail, sizeof tail, "-%04d%02d%02d-%02d%02d%02d-%lu-%lu.dmp", time.Year, time.Month, time.Day, time.Hour,
                time.Minute, time.Second, static_cast<unsigned long>(processId), static_cast<unsigned long>(number));
  return std::string(LogFolder(logFile)).append(LogStem(logFile)).append(tail);
}

std::string DumpFilePattern(std::string_view logFile) {
  return std::string(LogFolder(logFile)).append(LogStem(logFile)).append("-*.dmp");
}

bool IsDumpFileName(std::string_view logStem, std::string_view fileName) {
  if (fileName.size() <= logStem.size() + 1 || AsciiUpper(fileName.substr(0, logStem.size())) != AsciiUpper(logStem) ||
      fileName[logStem.size()] != '-')
    return false;
  std::string_view rest = fileName.substr(logStem.size() + 1);
  if (rest.size() < 4 || AsciiUpper(rest.substr(rest.size() - 4)) != ".DMP") return false;
  rest.remove_suffix(4);
  // yyyymmdd-hhmmss-pid-n
  std::vector<std::string_view> parts;
  for (std::size_t dash; (dash = rest.find('-')) != std::string_view::npos; rest.remove_prefix(dash + 1))
    parts.push_back(rest.substr(0, dash));
  parts.push_back(rest);
  return parts.size() == 4 && parts[0].size() == 8 && parts[1].size() == 6 &&
         std::all_of(parts.begin(), parts.end(), AllDigits);
}

std::vector<std::string> DumpFilesToRemove(std::vector<TDumpFileEntry> files, int keep) {
  keep = std::max(keep, 1);
  if (files.size() <= static_cast<std::size_t>(keep)) return {};
  // Oldest first; names order reports of the same moment (time, then process and number in the name).
  std::sort(files.begin(), files.end(), [](const TDumpFileEntry& a, const TDumpFileEntry& b) {
    return a.WriteTime != b.WriteTime ? a.WriteTime < b.WriteTime : a.Name < b.Name;
  });
  std::vector<std::string> remove;
  for (std::size_t i = 0; i + static_cast<std::size_t>(keep) < files.size(); ++i) remove.push_back(files[i].Name);
  return remove;
}

}  // namespace pelloran::crashlog
