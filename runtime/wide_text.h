#pragma once
// Text between the ANSI code page (GBK here) and UTF-16, the form Windows keeps file names in.
// Names that fit the ANSI code page travel as ANSI bytes, exactly as the program always handled
// them; the others only as UTF-16.

#include <optional>
#include <string>
#include <string_view>

namespace pelloran {

// ANSI bytes as UTF-16.
std::wstring AnsiToWide(std::string_view text);
// UTF-16 as ANSI bytes; characters the code page lacks become "?".
std::string WideToAnsi(std::wstring_view text);
// The ANSI bytes of the text when every character has one and they convert back to the same
// text; nothing otherwise.
std::optional<std::string> ExactAnsi(std::wstring_view text);

}  // namespace pelloran
