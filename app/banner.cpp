#include "app/banner.h"

#include <windows.h>
#include <objidl.h>
#include <shlwapi.h>
// GDI+ needs min and max from the global namespace.
#include <algorithm>
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <gdiplus.h>

namespace pelloran {

namespace {

constexpr char kBannerClass[] = "PelloranBanner";
constexpr UINT_PTR kFrameTimer = 1;
constexpr unsigned kDefaultDelayMs = 100;

// GDI+ is started once for the process and shut down at exit.
class GdiplusSession {
 public:
  GdiplusSession() {
    Gdiplus::GdiplusStartupInput input;
    ok_ = Gdiplus::GdiplusStartup(&token_, &input, nullptr) == Gdiplus::Ok;
  }
  ~GdiplusSession() {
    if (ok_) Gdiplus::GdiplusShutdown(token_);
  }
  bool ok() const { return ok_; }

 private:
  ULONG_PTR token_ = 0;
  bool ok_ = false;
};

bool EnsureGdiplus() {
  static GdiplusSession session;
  return session.ok();
}

const char* BannerWindowClass() {
  static const bool registered = [] {
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = &TBanner::WindowProc;
    wc.hInstance = ::GetModuleHandleA(nullptr);
    wc.hCursor = ::LoadCursorA(nullptr, IDC_HAND);
    wc.lpszClassName = kBannerClass;
    return ::RegisterClassExA(&wc) != 0;
  }();
  (void)registered;
  return kBannerClass;
}

}  // namespace

struct TBanner::Picture {
  IStream* stream = nullptr;
  std::unique_ptr<Gdiplus::Image> image;
  ~Picture() {
    image.reset();
    if (stream) stream->Release();
  }
};

TBanner::TBanner(TForm& owner, HWND parent, const char* gifResource)
    : TControl(owner, parent, BannerWindowClass(), 0, 0, "") {
  ::SetWindowLongPtrA(Handle(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  Load(gifResource);
  ScheduleNextFrame();
}

TBanner::~TBanner() {
  if (Handle()) {
    ::KillTimer(Handle(), kFrameTimer);
    ::SetWindowLongPtrA(Handle(), GWLP_USERDATA, 0);
  }
}

void TBanner::Load(const char* gifResource) {
  if (!EnsureGdiplus()) return;
  HMODULE module = ::GetModuleHandleA(nullptr);
  HRSRC info = ::FindResourceA(module, gifResource, MAKEINTRESOURCEA(10) /* RT_RCDATA */);
  HGLOBAL data = info ? ::LoadResource(module, info) : nullptr;
  const void* bytes = data ? ::LockResource(data) : nullptr;
  if (!bytes) return;
  auto picture = std::make_unique<Picture>();
  picture->stream = ::SHCreateMemStream(static_cast<const BYTE*>(bytes), ::SizeofResource(module, info));
  if (!picture->stream) return;
  picture->image = std::make_unique<Gdiplus::Image>(picture->stream);
  if (picture->image->GetLastStatus() != Gdiplus::Ok) return;

  GUID dimension = Gdiplus::FrameDimensionTime;
  frameCount_ = std::max<int>(1, static_cast<int>(picture->image->GetFrameCount(&dimension)));
  delaysMs_.assign(static_cast<size_t>(frameCount_), kDefaultDelayMs);
  // The frame delays are one property: an array of 32-bit values in hundredths of a second.
  UINT size = picture->image->GetPropertyItemSize(PropertyTagFrameDelay);
  if (size > sizeof(Gdiplus::PropertyItem)) {
    std::vector<unsigned char> buffer(size);
    auto* item = reinterpret_cast<Gdiplus::PropertyItem*>(buffer.data());
    if (picture->image->GetPropertyItem(PropertyTagFrameDelay, size, item) == Gdiplus::Ok) {
      const auto* values = static_cast<const uint32_t*>(item->value);
      size_t n = std::min<size_t>(item->length / 4, delaysMs_.size());
      for (size_t i = 0; i < n; ++i) delaysMs_[i] = std::max<unsigned>(20, values[i] * 10);
    }
  }
  picture_ = std::move(picture);
}

int TBanner::PictureWidth() const noexcept {
  return picture_ ? static_cast<int>(picture_->image->GetWidth()) : 0;
}

int TBanner::PictureHeight() const noexcept {
  return picture_ ? static_cast<int>(picture_->image->GetHeight()) : 0;
}

void TBanner::ScheduleNextFrame() {
  if (frameCount_ < 2) return;
  ::SetTimer(Handle(), kFrameTimer, delaysMs_[static_cast<size_t>(frame_)], nullptr);
}

void TBanner::NextFrame() {
  ::KillTimer(Handle(), kFrameTimer);
  frame_ = (frame_ + 1) % frameCount_;
  GUID dimension = Gdiplus::FrameDimensionTime;
  picture_->image->SelectActiveFrame(&dimension, static_cast<UINT>(frame_));
  ::InvalidateRect(Handle(), nullptr, FALSE);
  ScheduleNextFrame();
}

void TBanner::Paint(HDC dc) {
  RECT r{};
  ::GetClientRect(Handle(), &r);
  if (!picture_) {
    ::FillRect(dc, &r, reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1));
    return;
  }
  Gdiplus::Graphics graphics(dc);
  graphics.DrawImage(picture_->image.get(), 0, 0, r.right - r.left, r.bottom - r.top);
}

LRESULT CALLBACK TBanner::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* banner = reinterpret_cast<TBanner*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
  if (!banner) return ::DefWindowProcA(window, message, wParam, lParam);
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = ::BeginPaint(window, &ps);
      banner->Paint(dc);
      ::EndPaint(window, &ps);
      return 0;
    }
    case WM_ERASEBKGND:
      return 1;
    case WM_TIMER:
      if (wParam == kFrameTimer) banner->NextFrame();
      return 0;
    case WM_LBUTTONUP:
      if (banner->OnClick) CallEventHandler(banner, [banner] { banner->OnClick(); });
      return 0;
    default:
      return ::DefWindowProcA(window, message, wParam, lParam);
  }
}

}  // namespace pelloran
