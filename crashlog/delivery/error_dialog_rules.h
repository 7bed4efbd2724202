#pragma once
// The arithmetic and text rules of the error dialog, free of the platform: the sizes of the
// collapsed window, the placement kept in "CrashLog.ini", the layout on every size change, the
// cells and icons of the list pages, the reproduce text and the message to the development
// environment. The dialog code measures and asks the system; these functions decide.

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/hex_text.h"
#include "crashlog/infra/debuginfo/modules.h"

namespace pelloran::crashlog {

// Profile file and section of the dialog's placement (a bare name: it lives in the Windows folder).
inline constexpr std::string_view kPlacementFile = "CrashLog.ini";
inline constexpr std::string_view kPlacementSection = "Coordinates";

// Show states as the profile keeps them.
enum : int { kShowNormal = 1, kShowMaximized = 3, kShowMinimized = 6 };

// Height of the check-box band under the buttons: 34 with the send and screenshot boxes both
// shown, otherwise 20 (the copy box is always shown).
int CheckBoxBand(bool sendVisible, bool screenshotAllowed);

// A profile value as an integer: an optional sign and decimal digits, nothing else. Anything
// else (empty, letters, a fraction, a number beyond 32 bits) gives `fallback`.
int ProfileInt(std::string_view text, int fallback);

struct TScreenSize {
  int Width = 0;
  int Height = 0;
};

// The expanded window's placement as the profile keeps it. Height is without the band.
struct TDialogPlacement {
  int Width = 640;
  int Height = 385;
  int Left = 0;
  int Top = 0;
  int WindowsState = kShowNormal;
};

// Reads a key of the "Coordinates" section; returns the default it is given when the key is
// missing (the platform's private-profile read).
using TProfileReader = std::function<std::string(const std::string& key, const std::string& fallback)>;

// LoadDialogPlacement's rules: Width and Height, then Left and Top defaulting to the centred
// position, then WindowsState; a window larger than the screen is shrunk to fit it, one that
// would reach past the right or bottom edge is pulled back, and negative positions become 0.
TDialogPlacement LoadPlacement(const TProfileReader& read, TScreenSize screen, int band);

// The collapsed window, from the measured lines of the short message (and the extra line of the
// two check-box texts): each line's width and height in pixels with the dialog font.
struct TTextLineSize {
  int Width = 0;
  int Height = 0;
};
struct TSystemFrame {
  int FrameWidth = 0;         // fixed frame, horizontal
  int FrameHeight = 0;        // fixed frame, vertical
  int SmallCaptionHeight = 0;
};
struct TCollapsedSize {
  int WindowWidth = 0;
  int WindowHeight = 0;  // without the band
  int TextWidth = 0;     // the message control's size
  int TextHeight = 0;
};
inline constexpr int kCollapsedMaxWidth = 640;
inline constexpr int kCollapsedMinWidth = 250;
TCollapsedSize CollapsedSize(const std::vector<TTextLineSize>& lines, TSystemFrame frame);

// The lines measured for the collapsed window: the message's lines (split at CR LF, LF or CR)
// and one more made of the send text, four spaces and the copy text.
std::vector<std::string> CollapsedMeasureLines(std::string_view shortMessage, std::string_view sendText,
                                               std::string_view copyText);

// Client-area positions of the error dialog's controls for one client size.
struct TControlBox {
  int X = 0, Y = 0, Width = 0, Height = 0;
  bool operator==(const TControlBox&) const = default;
};
struct TDialogLayout {
  TControlBox Tabs;
  TControlBox Message;  // only used in the expanded state
  TControlBox Ok;
  TControlBox Terminate;
  TControlBox Details;
  TControlBox Send;        // check box 3000
  TControlBox Copy;        // check box 5000
  TControlBox Screenshot;  // check box 4000
};
// The buttons are 75 pixels wide, or as wide as a longer (translated) text needs.
struct TButtonWidths {
  int Ok = 75, Terminate = 75, Details = 75;
};
TDialogLayout LayoutFor(int clientWidth, int clientHeight, int band, const TButtonWidths& buttons = {});
// The width of a button whose text is `textWidth` pixels wide: 75 at least.
int ButtonWidthFor(int textWidth);

// The terminate button shows from the error after TerminateAfterErrors on.
bool TerminateButtonShown(bool showTerminateButton, int errorCount, int terminateAfterErrors);

// List page cells and icons.
enum : int { kIconDll = 0, kIconBpl = 1, kIconVcl = 2, kIconPas = 3 };
// A call stack entry gets a row when it names more than its module: LocationKind 2, 3 or 4,
// except names taken from the program's own exports (kind 3 in a program module).
bool ShowsInCallStackList(const TCrashDebugInfo& entry);
int CallStackIcon(const TCrashDebugInfo& entry);
int ModuleIcon(std::string_view fileName);
// "4.5.4.0" -> "4.5.x"; a text with fewer than two dots is shown whole.
std::string ShortVersion(std::string_view version);
// File size in kilobytes, rounded to the nearest (halves to even), and " Kb".
std::string SizeInKb(std::uint32_t bytes);
std::string FileNameWithoutFolder(std::string_view path);
// The call stack page's six cells: address, module file, unit, class, procedure, line (empty 0).
std::array<std::string, 6> CallStackCells(const TCrashDebugInfo& entry);

// Profile keys of the list pages' column widths and their defaults.
inline constexpr std::array<int, 6> kCallStackColumnWidths = {80, 102, 105, 118, 137, 48};
inline constexpr std::array<int, 6> kModuleColumnWidths = {80, 100, 130, 65, 65, 150};
std::string CallStackColumnKey(int column);  // "Col0" ...
std::string ModuleColumnKey(int column);     // "ColMod0" ...

// The reproduce text as stored: leading and trailing blanks and control characters removed.
std::string TrimReproduceText(std::string_view text);

// The mailslot message to the development environment: 2048 bytes holding the unit name as a
// zero-terminated string (cut to fit), then the line as a 32-bit little-endian number.
inline constexpr std::size_t kIdeMessageSize = 2052;
std::array<std::uint8_t, kIdeMessageSize> IdeSourceLocationMessage(std::string_view unit, std::int32_t line);

// The custom caption's colours (0xBBGGRR like the platform's COLORREF).
struct TCaptionColors {
  std::uint32_t Frame = 0;
  std::uint32_t Border = 0;
  std::uint32_t GradientStart = 0;
};
TCaptionColors CaptionColors(bool active);
// The colours of the caption's gradient steps: caption height / 5 steps, each component of the
// previous colour times 0.96, rounded, at most 255.
std::vector<std::uint32_t> CaptionGradient(std::uint32_t start, int captionHeight);

}  // namespace pelloran::crashlog
