#pragma once
// Pixel layout of the main window and the edit-entry dialog. Sizes are pixels at 96 DPI.

namespace pelloran::layout {

struct Rect {
  int Left, Top, Width, Height;
};

// Main window.
inline constexpr int kClientWidth = 770;
inline constexpr int kClientHeight = 510;
inline constexpr int kBannerHeight = 68;               // bannerPanel
inline constexpr Rect kBannerImage{5, 4, 760, 60};     // bannerImage, centred in the banner
inline constexpr int kUpperBlockHeight = 199;          // jobListPanel
inline constexpr int kLowerBlockHeight = 108;          // startPanel
inline constexpr int kToolBarHeight = 28;              // toolBarPanel / toolBar
inline constexpr int kToolButtonWidth = 75;
inline constexpr int kToolButtonHeight = 22;
inline constexpr int kTipLabelHeight = 39;             // dropTipLabel, three text lines
inline constexpr int kGaugeHeight = 17;                // ggProgress
inline constexpr Rect kStartButton{260, 25, 233, 57};  // btnStart within startPanel
inline constexpr int kHelpBarHeight = 28;              // helpBarPanel
inline constexpr int kOutputColumnWidth = 320;
inline constexpr int kStatusColumnWidth = 100;

// Edit-entry dialog.
inline constexpr int kEditClientWidth = 452;
inline constexpr int kEditClientHeight = 153;
inline constexpr Rect kEditInputLabel{20, 35, 60, 13};
inline constexpr Rect kEditInputBox{84, 32, 317, 21};
inline constexpr Rect kEditInputBrowse{406, 32, 23, 22};
inline constexpr Rect kEditOutputLabel{20, 72, 60, 13};
inline constexpr Rect kEditOutputBox{84, 69, 317, 21};
inline constexpr Rect kEditOutputBrowse{406, 69, 25, 22};
inline constexpr Rect kEditOkButton{136, 112, 75, 25};
inline constexpr Rect kEditCancelButton{248, 112, 75, 25};

}  // namespace pelloran::layout
