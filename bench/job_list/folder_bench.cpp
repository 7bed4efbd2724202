// Adding a folder of 1,000 media files (and some others, in ten subfolders, a tenth of them named
// outside the ANSI code page) to the real main window: the time the add takes and the longest
// time the window leaves a message from another thread unanswered meanwhile. Aim: under a second.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "app/main_form.h"
#include "runtime/wide_text.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

std::wstring MakeTree(const std::wstring& root) {
  const std::wstring folder = root + L"bench-folder-" + std::to_wstring(::GetCurrentProcessId());
  ::CreateDirectoryW(folder.c_str(), nullptr);
  const wchar_t* exts[] = {L".rm", L".rmvb", L".RA"};
  for (int sub = 0; sub < 10; ++sub) {
    const std::wstring dir = folder + L"\\season " + std::to_wstring(sub);
    ::CreateDirectoryW(dir.c_str(), nullptr);
    for (int i = 0; i < 100; ++i) {
      const std::wstring name = (i % 10 == 0 ? std::wstring(L"\uD55C\uAD6D\uC5B4 ") : std::wstring(L"episode ")) +
                                std::to_wstring(i) + exts[i % 3];
      HANDLE f = ::CreateFileW((dir + L"\\" + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
      ::CloseHandle(f);
    }
    for (int i = 0; i < 5; ++i) {
      HANDLE f = ::CreateFileW((dir + L"\\cover " + std::to_wstring(i) + L".jpg").c_str(), GENERIC_WRITE, 0,
                               nullptr, CREATE_ALWAYS, 0, nullptr);
      ::CloseHandle(f);
    }
  }
  return folder;
}

void RemoveTree(const std::wstring& folder) {
  WIN32_FIND_DATAW data;
  HANDLE find = ::FindFirstFileW((folder + L"\\*").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = data.cFileName;
      if (name == L"." || name == L"..") continue;
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        RemoveTree(folder + L"\\" + name);
      else
        ::DeleteFileW((folder + L"\\" + name).c_str());
    } while (::FindNextFileW(find, &data));
    ::FindClose(find);
  }
  ::RemoveDirectoryW(folder.c_str());
}

}  // namespace

int main() {
  using namespace pelloran;
  wchar_t temp[MAX_PATH];
  ::GetTempPathW(MAX_PATH, temp);
  const std::wstring folder = MakeTree(temp);

  Application().Initialize();
  Application().SetTitle("Pelloran");
  TMainForm form;
  form.Create();
  form.Show();
  Application().ProcessMessages();

  for (int run = 1; run <= 3; ++run) {
    form.ClearListClick();
    Application().ProcessMessages();
    // Another thread asks the window every few milliseconds, as the shell and other programs do.
    std::atomic<bool> stop{false};
    std::atomic<double> longest{0};
    std::thread asker([&] {
      while (!stop) {
        const auto start = Clock::now();
        DWORD_PTR result = 0;
        ::SendMessageTimeoutW(form.Handle(), WM_NULL, 0, 0, SMTO_BLOCK, 10000, &result);
        const double waited = Ms(Clock::now() - start);
        if (waited > longest) longest = waited;
        ::Sleep(2);
      }
    });
    ::Sleep(20);
    const auto start = Clock::now();
    form.AddFile(folder);
    const double added = Ms(Clock::now() - start);
    Application().ProcessMessages();
    const double painted = Ms(Clock::now() - start);
    ::Sleep(20);
    Application().ProcessMessages();
    stop = true;
    asker.join();
    std::printf("run=%d files=1050 rows=%d add_ms=%.1f until_painted_ms=%.1f longest_unanswered_ms=%.1f\n", run,
                form.Jobs->Count(), added, painted, longest.load());
  }
  form.Close();
  RemoveTree(folder);
  return 0;
}
