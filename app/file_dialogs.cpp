#include "app/file_dialogs.h"

#include <commdlg.h>

#include "batch/batch_io.h"

namespace pelloran {

std::string DialogFilter(const std::string& filter) {
  const LeadByteTable& lead = AnsiLeadBytes();
  std::string out = filter;
  for (size_t i = 0; i < out.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(out[i]);
    if (lead[c] && i + 1 < out.size()) {
      ++i;
      continue;
    }
    if (c == '|') out[i] = '\0';
  }
  out.append(2, '\0');
  return out;
}

namespace {

bool RunFileDialog(HWND owner, const std::string& filter, std::string& path, bool save) {
  std::string filterBytes = DialogFilter(filter);
  char buffer[4096] = {};
  OPENFILENAMEA ofn{};
  ofn.lStructSize = sizeof(ofn);
  ofn.hwndOwner = owner;
  ofn.lpstrFilter = filterBytes.c_str();
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = buffer;
  ofn.nMaxFile = sizeof buffer;
  ofn.Flags = OFN_HIDEREADONLY | OFN_EXPLORER | OFN_ENABLESIZING | OFN_NOCHANGEDIR;
  BOOL ok = save ? ::GetSaveFileNameA(&ofn) : ::GetOpenFileNameA(&ofn);
  if (!ok) return false;
  path = buffer;
  return true;
}

}  // namespace

bool ChooseFileToOpen(HWND owner, const std::string& filter, std::string& path) {
  return RunFileDialog(owner, filter, path, false);
}

bool ChooseFileToSave(HWND owner, const std::string& filter, std::string& path) {
  return RunFileDialog(owner, filter, path, true);
}

}  // namespace pelloran
