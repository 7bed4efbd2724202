// hello_crash: a plain Win32 program (its own window class and message loop) that carries
// CrashLog. Two of its buttons make the two kinds of error the reporter catches without any help
// from the program: a processor fault in a worker thread, and a C++ exception that escapes the
// window procedure. The third reports an exception the program caught itself, and goes on. Each
// becomes a report in the dialog and in hello_crash.elf beside the program, with a tag, the
// program's own notes file and (as hello_crash.options asks) a minidump for a debugger.
//
// On the command line, "handled", "worker" or "window" presses that button once the window is
// up, and "quit" closes the window after it.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>

#include "crashlog/crashlog.h"

namespace {

constexpr int kFaultInWorker = 1;
constexpr int kThrowInWindow = 2;
constexpr int kReportHandled = 3;
constexpr UINT kPressButtons = WM_APP + 1;

struct Settings {
  int width;
  int height;
};

// Nothing has loaded the settings yet: the worker reads through a null pointer.
Settings* loadedSettings = nullptr;

// Kept out of line so that the report names them rather than their callers.
__attribute__((noinline)) int ReadWindowWidth() {
  return loadedSettings->width;
}

DWORD WINAPI LoadSettingsWorker(void*) {
  return static_cast<DWORD>(ReadWindowWidth());
}

__attribute__((noinline)) void OpenDocument(const std::string& name) {
  // volatile: kept in memory, so that a debugger shows it in the minidump of an optimised build.
  volatile std::size_t length = name.size();
  throw std::runtime_error("Cannot open the document " + name + " (" + std::to_string(length) + " characters)");
}

void OnCommand(int id) {
  if (id == kFaultInWorker) {
    HANDLE worker = ::CreateThread(nullptr, 0, &LoadSettingsWorker, nullptr, 0, nullptr);
    if (worker != nullptr) {
      ::WaitForSingleObject(worker, INFINITE);
      ::CloseHandle(worker);
    }
  } else if (id == kThrowInWindow) {
    OpenDocument("hello.txt");
  } else if (id == kReportHandled) {
    try {
      OpenDocument("settings.ini");
    } catch (const std::exception& error) {
      // Caught here, and worth a report all the same; the program goes on.
      crashlog::Report(error);
    }
  }
}

struct CommandLine {
  bool handled = false;
  bool worker = false;
  bool window = false;
  bool quit = false;
};

CommandLine commandLine;

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE: {
      HINSTANCE instance = reinterpret_cast<CREATESTRUCTA*>(lParam)->hInstance;
      ::CreateWindowExA(0, "BUTTON", "Fault in a worker thread", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 20, 20, 260,
                        30, window, reinterpret_cast<HMENU>(kFaultInWorker), instance, nullptr);
      ::CreateWindowExA(0, "BUTTON", "Throw in the window procedure", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 20, 60,
                        260, 30, window, reinterpret_cast<HMENU>(kThrowInWindow), instance, nullptr);
      ::CreateWindowExA(0, "BUTTON", "Report a caught exception", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 20, 100,
                        260, 30, window, reinterpret_cast<HMENU>(kReportHandled), instance, nullptr);
      return 0;
    }
    case WM_COMMAND:
      OnCommand(LOWORD(wParam));
      return 0;
    case kPressButtons:
      if (commandLine.handled) ::SendMessageA(window, WM_COMMAND, kReportHandled, 0);
      if (commandLine.worker) ::SendMessageA(window, WM_COMMAND, kFaultInWorker, 0);
      if (commandLine.window) ::SendMessageA(window, WM_COMMAND, kThrowInWindow, 0);
      if (commandLine.quit) ::PostMessageA(window, WM_CLOSE, 0, 0);
      return 0;
    case WM_DESTROY:
      ::PostQuitMessage(0);
      return 0;
    default:
      return ::DefWindowProcA(window, message, wParam, lParam);
  }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
  // First thing: from here on every error that nobody handles becomes a report.
  crashlog::InstallReporter();
  // Optional: follow the steps of each report. Here every report written to the log leaves a
  // line on standard output as well.
  crashlog::SetActionHandler([](const crashlog::ErrorReport& report, crashlog::Action action, bool&) {
    if (action == crashlog::Action::AfterLog) {
      std::printf("hello_crash: logged %s\n", report.ClassName.c_str());
      std::fflush(stdout);
    }
  });

  // Optional: facts and files that go with every report.
  crashlog::SetTag("edition", "hello_crash sample");
  if (FILE* notes = std::fopen("hello_crash.txt", "w")) {
    std::fputs("hello_crash started\n", notes);
    std::fclose(notes);
  }
  crashlog::AddFile("hello_crash.txt");

  for (int i = 1; i < __argc; ++i) {
    if (std::strcmp(__argv[i], "handled") == 0) commandLine.handled = true;
    if (std::strcmp(__argv[i], "worker") == 0) commandLine.worker = true;
    if (std::strcmp(__argv[i], "window") == 0) commandLine.window = true;
    if (std::strcmp(__argv[i], "quit") == 0) commandLine.quit = true;
  }

  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = &WindowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = ::LoadCursor(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.lpszClassName = "HelloCrashWindow";
  ::RegisterClassA(&windowClass);
  HWND window = ::CreateWindowExA(0, windowClass.lpszClassName, "Hello, CrashLog", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                  CW_USEDEFAULT, 320, 190, nullptr, nullptr, instance, nullptr);
  ::ShowWindow(window, show);
  ::PostMessageA(window, kPressButtons, 0, 0);

  MSG message;
  while (::GetMessageA(&message, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&message);
    ::DispatchMessageA(&message);
  }

  crashlog::UninstallReporter();
  return static_cast<int>(message.wParam);
}
