#include "batch/media_folder.h"

#include <windows.h>

#include <algorithm>

#include "batch/job_naming.h"
#include "runtime/scoped_handle.h"

namespace pelloran {

bool PathLess(const std::wstring& a, const std::wstring& b) {
  return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                TRUE) == CSTR_LESS_THAN;
}

namespace {

bool IsDotEntry(const wchar_t* name) {
  return name[0] == L'.' && (name[1] == 0 || (name[1] == L'.' && name[2] == 0));
}

}  // namespace

MediaFolderContents ScanMediaFolder(const std::wstring& folder) {
  MediaFolderContents contents;
  std::vector<std::wstring> pending{folder};
  while (!pending.empty()) {
    std::wstring dir = std::move(pending.back());
    pending.pop_back();
    if (!dir.empty() && dir.back() != L'\\' && dir.back() != L'/') dir += L'\\';
    WIN32_FIND_DATAW entry{};
    // The basic form skips the 8.3 names, which nobody here reads; large fetches save round trips.
    ScopedFindHandle find(::FindFirstFileExW((dir + L"*").c_str(), FindExInfoBasic, &entry,
                                             FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH));
    if (!find) continue;
    do {
      if (IsDotEntry(entry.cFileName)) continue;
      std::wstring path = dir + entry.cFileName;
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) pending.push_back(std::move(path));
      } else if (IsAcceptedMediaFile(path)) {
        contents.MediaFiles.push_back(std::move(path));
      } else {
        ++contents.OtherFiles;
      }
    } while (::FindNextFileW(find.get(), &entry));
  }
  std::sort(contents.MediaFiles.begin(), contents.MediaFiles.end(), PathLess);
  return contents;
}

}  // namespace pelloran
