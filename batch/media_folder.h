#pragma once
// The RealMedia files inside a folder and its subfolders, for a folder dropped on the window or
// named on the command line.

#include <cstddef>
#include <string>
#include <vector>

namespace pelloran {

struct MediaFolderContents {
  std::vector<std::wstring> MediaFiles;  // sorted by full path, case-insensitively
  size_t OtherFiles = 0;                 // files of other types, left out
};

// Reads the folder tree. Folders that are links (junctions, symbolic links) are not entered, so
// a link back up the tree cannot loop; folders that cannot be read are passed over.
MediaFolderContents ScanMediaFolder(const std::wstring& folder);

// Case-insensitive order of full paths, the same for every locale.
bool PathLess(const std::wstring& a, const std::wstring& b);

}  // namespace pelloran
