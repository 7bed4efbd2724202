#pragma once
// The batch's contact with the file system and the shell. Sizes are 64-bit: media files of
// 2 GiB and more are ordinary.

#include <cstdint>
#include <string>

#include "batch/job_naming.h"

namespace pelloran {

// Folder of the running executable, ending in "\"; recomputed at every call.
std::string ExeDir();
// Lead bytes of the system's ANSI code page.
const LeadByteTable& AnsiLeadBytes();

// True when a file (not a folder) exists at the path.
bool FileExists(const std::string& path);
// 0 when no file exists at the path; otherwise its size. The file is not opened, so a file that
// another process holds open for writing is measured all the same. Other failures raise
// EInOutError.
int64_t FileSizeOf(const std::string& path);

// Creates or truncates the file and writes the bytes; failures raise EInOutError.
void WriteWholeFile(const std::string& path, const std::string& bytes);
// The whole file, read while other processes are denied writing; empty when it cannot be opened.
std::string ReadWholeFile(const std::string& path);
// Deletes a file; a missing file or a failure is ignored.
void DeleteFileQuietly(const std::string& path);

void WriteEventsFile();     // ExeDir + "blank.txt"
void WriteImageMapFile();   // ExeDir + "blank2.txt"

// The parameter string of the events tool for one job.
std::string EventsToolParameters(const std::string& input, const std::string& output);
// Starts ExeDir's events tool through the shell, in ExeDir, without waiting for it.
void StartEventsTool(const std::string& parameters, bool show);

// Opens a document or web address with the shell's "OPEN" verb.
void ShellOpen(const std::string& target);

}  // namespace pelloran
