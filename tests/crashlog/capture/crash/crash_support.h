#pragma once
// What the crash test programs share: installing the reporter as a program does, a window with a
// timer whose ticks run a list of steps, and a way to keep the compiler from folding a fault away.

#include <windows.h>

#include <functional>
#include <vector>

#include "crashlog/flow/install.h"
#include "runtime/application.h"
#include "runtime/controls.h"

namespace pelloran::crashtest {

// Runs each step in its own timer tick of a real window, then closes the window and returns
// when the message loop ends: an error in a step reaches the framework's handler like an error
// of any event handler.
inline void RunStepsInTimerTicks(const std::vector<std::function<void()>>& steps) {
  Application().Initialize();
  TForm form;
  form.CreateHandle("crash test", WS_OVERLAPPEDWINDOW, 0, 200, 100);
  Application().SetMainFormHandle(form.Handle());
  TTimer timer(form, 10);
  std::size_t next = 0;
  timer.SetOnTimer([&] {
    if (next == steps.size()) {
      timer.SetEnabled(false);
      form.Close();
      return;
    }
    steps[next++]();
  });
  timer.SetEnabled(true);
  form.Show();
  Application().Run();
}

// A pointer the optimiser cannot see through.
template <typename T>
T* Opaque(T* pointer) {
  asm volatile("" : "+r"(pointer));
  return pointer;
}

}  // namespace pelloran::crashtest
