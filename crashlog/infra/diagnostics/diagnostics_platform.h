#pragma once
// The platform calls behind warnings and internal errors, one small function each, so that the
// text-building code around them needs no system headers.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pelloran::crashlog {

// Message-box flags the reporter uses: every box is task-modal, topmost and a service
// notification, so that it shows even when the program's own windows are unusable.
inline constexpr unsigned kErrorBoxFlags = 0x242010;      // OK, error icon
inline constexpr unsigned kInternalBugBoxFlags = 0x242014;  // Yes/No, error icon
inline constexpr unsigned kInformationBoxFlags = 0x242030;  // OK, warning icon
inline constexpr int kAnswerYes = 6;

// Sends a line to the debugger's output.
void DebuggerOutput(std::string_view text) noexcept;

// Shows a message box without owner and returns the button pressed (0 when it could not be
// shown). The box can be replaced, for programs without a desktop and for tests.
using TMessageBoxHandler = int (*)(const std::string& text, const std::string& caption, unsigned flags);
int ReporterMessageBox(const std::string& text, const std::string& caption, unsigned flags) noexcept;
// Installs `handler` (nullptr: the system's box) and returns the previous one.
TMessageBoxHandler SetReporterMessageBox(TMessageBoxHandler handler) noexcept;

// A copy of `count` bytes at `address`, or nothing when any of them is not readable.
std::optional<std::vector<std::uint8_t>> ReadProcessBytes(const void* address, std::size_t count) noexcept;

}  // namespace pelloran::crashlog
