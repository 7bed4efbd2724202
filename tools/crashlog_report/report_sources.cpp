#include "tools/crashlog_report/report_sources.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <system_error>
#include <vector>

#include "crashlog/capture/log_file_format.h"
#include "tools/crashlog_report/mime_message.h"
#include "tools/crashlog_report/transfer_decoding.h"

namespace pelloran::crashlog_report {

namespace fs = std::filesystem;

namespace {

std::string LowerExtension(const fs::path& path) {
  std::string extension = path.extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
  return extension;
}

bool EndsWithElf(std::string_view name) {
  if (name.size() < 4) return false;
  std::string tail(name.substr(name.size() - 4));
  std::transform(tail.begin(), tail.end(), tail.begin(),
                 [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
  return tail == ".elf";
}

// A report begins with "CrashLog " at the start of the text or of a line.
bool HoldsReportStart(std::string_view text) {
  return text.starts_with(crashlog::kLogEntryStart) ||
         text.find(std::string("\r\n").append(crashlog::kLogEntryStart)) != std::string_view::npos;
}

struct TFileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

bool ReadWholeFile(const fs::path& path, std::string& content, std::string& problem) {
  std::error_code error;
  const std::uintmax_t size = fs::file_size(path, error);
  if (error) {
    problem = error.message();
    return false;
  }
  if (size > kMaxInputBytes) {
    problem = "larger than " + std::to_string(kMaxInputBytes >> 20) + " MB";
    return false;
  }
  const std::unique_ptr<std::FILE, TFileCloser> file(std::fopen(path.c_str(), "rb"));
  if (!file) {
    problem = std::error_code(errno, std::generic_category()).message();
    return false;
  }
  content.resize(static_cast<std::size_t>(size));
  const std::size_t read = std::fread(content.data(), 1, content.size(), file.get());
  content.resize(read);
  if (std::ferror(file.get())) {
    problem = "read error";
    return false;
  }
  return true;
}

}  // namespace

TReportReader::TReportReader(TReportGroups& groups, TProblemSink problem)
    : groups_(groups), problem_([sink = std::move(problem)](const std::string& text) {
        std::string line = text;
        for (char& c : line)
          if (static_cast<unsigned char>(c) < 32 || c == 127) c = '?';
        sink(line);
      }) {}

std::size_t TReportReader::ReadLogText(std::string_view text, const std::string& origin) {
  // A log whose line ends were turned into LF (copied through a Unix tool) reads as well.
  std::string converted;
  if (text.find("\r\n") == std::string_view::npos && text.find('\n') != std::string_view::npos) {
    converted = CrLfLineEnds(text);
    text = converted;
  }
  const TLogSplit split = SplitLogEntries(text);
  for (const std::string& problem : split.Problems) problem_(origin + ": " + problem + ", skipped");
  std::size_t found = 0, number = 0;
  for (const std::string& entryText : split.Entries) {
    ++number;
    TReportEntry entry;
    std::string problem;
    if (!ReadReportEntry(entryText, entry, problem)) {
      problem_(origin + ": report " + std::to_string(number) + ": " + problem + ", skipped");
      continue;
    }
    groups_.Add(entryText, entry);
    ++found;
  }
  if (split.Entries.empty() && split.Problems.empty()) problem_(origin + ": no report in it, skipped");
  return found;
}

std::size_t TReportReader::ReadMailText(std::string_view bytes, const std::string& origin) {
  TMailReading mail;
  if (!ReadMail(bytes, mail)) {
    problem_(origin + ": not a mail, skipped");
    return 0;
  }
  for (const std::string& problem : mail.Problems) problem_(origin + ": " + problem);
  std::size_t found = 0;
  bool anyLog = false;
  for (const TMailPart& part : mail.Parts) {
    if (part.Attachment && EndsWithElf(part.FileName)) {
      anyLog = true;
      found += ReadLogText(part.Content, origin + ": attachment \"" + part.FileName + "\"");
    } else if (!part.Attachment && part.ContentType == "text/plain" && HoldsReportStart(part.Content)) {
      // The log written into the mail body.
      anyLog = true;
      found += ReadLogText(part.Content, origin + ": mail text");
    }
  }
  if (!anyLog) problem_(origin + ": a mail without an .elf attachment or a report in its text, skipped");
  return found;
}

bool TReportReader::ReadFile(const fs::path& path, bool asMail) {
  std::string content, problem;
  if (!ReadWholeFile(path, content, problem)) {
    problem_(path.string() + ": " + problem + ", skipped");
    return false;
  }
  const std::string extension = LowerExtension(path);
  if (asMail || extension == ".eml") {
    ReadMailText(content, path.string());
  } else if (extension == ".elf" || content.starts_with(crashlog::kLogEntryStart)) {
    ReadLogText(content, path.string());
  } else {
    TMailReading probe;
    if (ReadMail(content, probe))
      ReadMailText(content, path.string());
    else
      problem_(path.string() + ": neither a log nor a mail, skipped");
  }
  return true;
}

void TReportReader::ReadFolder(const fs::path& path) {
  std::error_code error;
  const bool maildir = fs::is_directory(path / "cur", error) || fs::is_directory(path / "new", error);
  std::vector<std::pair<fs::path, bool>> files;  // path, read as a mail
  const auto list = [&](const fs::path& folder, bool mails) {
    std::error_code listError;
    for (const fs::directory_entry& item : fs::directory_iterator(folder, listError)) {
      const std::string name = item.path().filename().string();
      if (name.starts_with('.') || !item.is_regular_file(listError)) continue;
      const std::string extension = LowerExtension(item.path());
      if (mails || extension == ".elf" || extension == ".eml") files.emplace_back(item.path(), mails);
    }
    if (listError) problem_(folder.string() + ": " + listError.message());
  };
  if (maildir) {
    for (const char* sub : {"new", "cur"})
      if (fs::is_directory(path / sub, error)) list(path / sub, true);
  } else {
    list(path, false);
  }
  std::sort(files.begin(), files.end());
  for (const auto& [file, mail] : files) ReadFile(file, mail);
}

bool TReportReader::ReadPath(const fs::path& path) {
  std::error_code error;
  const fs::file_status status = fs::status(path, error);
  if (error || !fs::exists(status)) {
    problem_(path.string() + ": " + (error ? error.message() : std::string("no such file or folder")));
    return false;
  }
  if (fs::is_directory(status)) {
    ReadFolder(path);
    return true;
  }
  return ReadFile(path, false);
}

}  // namespace pelloran::crashlog_report
