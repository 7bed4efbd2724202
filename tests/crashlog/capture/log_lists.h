#pragma once
// Lists of log entries that the log tests and their child program both build: entry i of list L
// is a report-like text of about `size` bytes that ends in CR LF, as reports do.

#include <string>

namespace pelloran::testing {

inline std::string ListEntryText(char list, int index, int size) {
  return "CrashLog " + std::string(1, list) + std::to_string(index) + "\r\n\r\n" +
         std::string(static_cast<std::size_t>(size), static_cast<char>('a' + index % 26)) + "\r\n";
}

// The log file a fresh save of a list gives: each entry followed by four CR LF (the entry end)
// and one more (the line end of the file's text).
inline std::string ListLogFile(char list, int count, int size) {
  std::string file;
  for (int i = 0; i < count; ++i) file += ListEntryText(list, i, size) + "\r\n\r\n\r\n\r\n" + "\r\n";
  return file;
}

}  // namespace pelloran::testing
