#pragma once
// The animated banner: a GIF picture from the program's resources, decoded by GDI+, whose frames
// play in a loop. A click runs OnClick; the pointer over it is a hand.

#include <functional>
#include <memory>
#include <vector>

#include "runtime/controls.h"

namespace pelloran {

class TBanner : public TControl {
 public:
  TBanner(TForm& owner, HWND parent, const char* gifResource);
  ~TBanner() override;

  std::function<void()> OnClick;

  int FrameCount() const noexcept { return frameCount_; }
  int CurrentFrame() const noexcept { return frame_; }
  int PictureWidth() const noexcept;
  int PictureHeight() const noexcept;

  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

 private:
  struct Picture;
  void Load(const char* gifResource);
  void Paint(HDC dc);
  void NextFrame();
  void ScheduleNextFrame();

  std::unique_ptr<Picture> picture_;
  std::vector<unsigned> delaysMs_;
  int frameCount_ = 0;
  int frame_ = 0;
};

}  // namespace pelloran
