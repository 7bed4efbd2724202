#include "app/file_dialogs.h"

#include <commdlg.h>

#include "batch/batch_io.h"
#include "runtime/wide_text.h"

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

bool RunFileDialog(HWND owner, const std::string& filter, std::wstring& path, bool save) {
  const std::wstring filterText = AnsiToWide(DialogFilter(filter));
  wchar_t buffer[4096] = {};
  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof(ofn);
  ofn.hwndOwner = owner;
  ofn.lpstrFilter = filterText.c_str();
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = buffer;
  ofn.nMaxFile = sizeof buffer / sizeof buffer[0];
  ofn.Flags = OFN_HIDEREADONLY | OFN_EXPLORER | OFN_ENABLESIZING | OFN_NOCHANGEDIR;
  BOOL ok = save ? ::GetSaveFileNameW(&ofn) : ::GetOpenFileNameW(&ofn);
  if (!ok) return false;
  path = buffer;
  return true;
}

}  // namespace

bool ChooseFileToOpen(HWND owner, const std::string& filter, std::wstring& path) {
  return RunFileDialog(owner, filter, path, false);
}

bool ChooseFileToSave(HWND owner, const std::string& filter, std::wstring& path) {
  return RunFileDialog(owner, filter, path, true);
}

}  // namespace pelloran
