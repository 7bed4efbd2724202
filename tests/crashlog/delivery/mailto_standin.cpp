// A mail handler for the tests: records its command line (as hex) to the file named by
// PELLORAN_MAILTO_RECORD, shows a main window, and records how that window was left by the
// program that started it: maximised, and whether it was made topmost. Ends by itself.

#include <windows.h>

#include <cstdio>
#include <string>

namespace {

std::string Hex(const std::string& text) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : text) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

void Record(const std::string& line) {
  char path[MAX_PATH] = {};
  if (!GetEnvironmentVariableA("PELLORAN_MAILTO_RECORD", path, sizeof path)) return;
  if (FILE* file = std::fopen(path, "ab")) {
    std::fprintf(file, "%s\n", line.c_str());
    std::fclose(file);
  }
}

constexpr UINT_PTR kGiveUpTimer = 1;

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_SIZE:
      if (wParam == SIZE_MAXIMIZED) {
        const bool topmost = (GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
        Record(std::string("maximized topmost=") + (topmost ? "1" : "0"));
        PostMessageA(window, WM_CLOSE, 0, 0);
      }
      return 0;
    case WM_TIMER:
      Record("not maximized");
      DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcA(window, message, wParam, lParam);
  }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  Record("command " + Hex(GetCommandLineA()));
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = "PelloranMailStandIn";
  RegisterClassA(&windowClass);
  HWND window = CreateWindowExA(0, windowClass.lpszClassName, "Mail stand-in", WS_OVERLAPPEDWINDOW, 10, 10, 300, 200,
                                nullptr, nullptr, instance, nullptr);
  ShowWindow(window, SW_SHOWNORMAL);
  SetTimer(window, kGiveUpTimer, 20000, nullptr);
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return 0;
}
