#pragma once
// The application object: title, message loop and the top-level exception handler through which
// every exception that escapes an event handler or a timer tick passes.

#include <windows.h>

#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <type_traits>

namespace pelloran {

class TObject {
 public:
  virtual ~TObject() = default;
};

class TApplication : public TObject {
 public:
  TApplication();
  TApplication(const TApplication&) = delete;
  TApplication& operator=(const TApplication&) = delete;

  ~TApplication() override;

  // Registers common controls and creates the application window (once).
  void Initialize();

  // The title names the application on the taskbar (through the application window) and heads
  // its plain message boxes.
  const std::string& Title() const noexcept { return title_; }
  void SetTitle(std::string title);

  // The application's own top-level window: hidden (no size), it owns the forms and carries the
  // taskbar button, so the taskbar shows the title rather than the main window's caption.
  HWND Handle() const noexcept { return handle_; }
  // Minimises the whole application (the application window and the forms it owns).
  void Minimize();

  // The first form created becomes the main form; closing it ends Run().
  HWND MainFormHandle() const noexcept { return mainForm_; }
  void SetMainFormHandle(HWND window) noexcept { mainForm_ = window; }

  // Runs the message loop until the main form has been destroyed (or WM_QUIT arrives).
  void Run();
  // Handles the messages waiting now, then returns. False once WM_QUIT was seen.
  bool ProcessMessages();
  bool Terminated() const noexcept { return terminated_; }
  void Terminate();

  // Called inside a catch block with the exception in flight. EAbort is silent; with OnException
  // set, it decides; otherwise the exception's message is shown in an error box. Never throws.
  void HandleException(TObject* sender);
  std::function<void(TObject* sender, std::exception_ptr error)> OnException;

  // Shows the message of an exception in a box titled with the application title.
  void ShowException(std::exception_ptr error);

  // Message box owned by the active window of this application, as the framework's own boxes are.
  int MessageBox(const std::string& text, const std::string& caption, UINT flags);

 private:
  bool DispatchOne(MSG& msg);

  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  std::string title_;
  HWND handle_ = nullptr;
  HWND mainForm_ = nullptr;
  bool hiddenByMinimize_ = false;
  bool terminated_ = false;
};

// The start-up slot: the first Initialize calls the procedure in it before anything else. Units
// that need to act at the application's start-up (the COM support's safecall error procedure,
// the crash reporter after it) chain themselves in: each calls the procedure it replaced first.
using TInitProc = void (*)();
TInitProc SetInitProc(TInitProc proc) noexcept;

// The one application object of the process.
TApplication& Application();

// Text of an exception for a message box: the message of the program's own exceptions, what()
// of standard ones, a fixed text for anything else.
std::string ExceptionMessage(std::exception_ptr error);

// Calls invoke(handler) inside a fault frame; an exception that escapes it goes to
// Application().HandleException(sender). This is the one catch through which event handlers reach
// the application's handler, kept a function of its own so that the crash reporter can tell its
// frame from the program's own catch blocks.
void DispatchEventHandler(TObject* sender, void (*invoke)(void*), void* handler) noexcept;

// Calls `handler`; an exception that escapes it goes to Application().HandleException(sender).
template <typename F>
void CallEventHandler(TObject* sender, F&& handler) noexcept {
  using Handler = std::remove_reference_t<F>;
  DispatchEventHandler(sender, [](void* h) { (*static_cast<Handler*>(h))(); },
                       const_cast<void*>(static_cast<const void*>(std::addressof(handler))));
}

}  // namespace pelloran
