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
bool FileExists(const std::wstring& path);
// True when a folder exists at the path.
bool FolderExists(const std::wstring& path);
// 0 when no file exists at the path; otherwise its size. The file is not opened, so a file that
// another process holds open for writing is measured all the same. Other failures raise
// EInOutError.
int64_t FileSizeOf(const std::string& path);
int64_t FileSizeOf(const std::wstring& path);

// 0 when the file opens for reading (as the events tool opens its input); the system's error
// code otherwise.
unsigned long CheckReadable(const std::wstring& path);
// 0 when a new file can be made in the folder ("" is the current folder); the system's error
// code otherwise. The trial file has a name of its own and is gone again at once.
unsigned long CheckFolderWritable(const std::wstring& folder);
// Puts a file in place of another (replacing it); the system's error code, 0 on success.
unsigned long RenameFile(const std::wstring& from, const std::wstring& to);
// The system's wording of an error code, on one line (empty if it has none).
std::wstring SystemErrorTextW(unsigned long code);

// Creates or truncates the file and writes the bytes; failures raise EInOutError.
void WriteWholeFile(const std::string& path, const std::string& bytes);
// The whole file, read while other processes are denied writing; empty when it cannot be opened.
std::string ReadWholeFile(const std::string& path);
// Deletes a file; a missing file or a failure is ignored.
void DeleteFileQuietly(const std::string& path);
void DeleteFileQuietly(const std::wstring& path);

void WriteEventsFile();     // ExeDir + "blank.txt"
void WriteImageMapFile();   // ExeDir + "blank2.txt"

// Opens a document or web address with the shell's "OPEN" verb.
void ShellOpen(const std::string& target);

}  // namespace pelloran
