#pragma once
// The general section of a report: numbered sections of "label: value" items whose colons are
// lined up per section. Pure text work on the program's ANSI (GBK) byte strings.
//
// Widths and positions count bytes. A GBK character is two bytes and takes two columns of a
// fixed-width font (an ASCII one takes one), so counting bytes is what lines the colons up on
// screen; and no GBK trail byte (0x40 to 0xFE) can be mistaken for ':', ' ', '-', CR or LF.

#include <cstddef>
#include <string>
#include <string_view>

namespace pelloran::crashlog {

// `text` followed by spaces up to `width` bytes; a longer text is kept whole, never cut.
std::string PadRight(std::string_view text, std::size_t width);

class TLogItem {
 public:
  void Clear();
  // Opens the next section: its title, ":" and a "-" line that Finish widens.
  void AddSection(std::string_view title);
  // Numbers the item whether or not it is shown, so that switched-off items leave gaps.
  void AddItem(std::string_view label, std::string_view value, bool enabled);
  // The section text: sections without shown items removed, each section's first ": " lined
  // up, the "-" lines as long as their longest item line; every line ends in CR LF.
  std::string Finish() const;

  const std::string& Text() const noexcept { return text_; }
  int SectionNo() const noexcept { return sectionNo_; }
  int ItemNo() const noexcept { return itemNo_; }

 private:
  std::string text_;
  int sectionNo_ = 0;
  int itemNo_ = 0;
};

}  // namespace pelloran::crashlog
