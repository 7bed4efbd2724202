#pragma once
// The screenshot that goes with a report: the whole screen with the cursor, as a palette PNG in
// the user's temporary folder.

#include <string>

namespace pelloran::crashlog {

// The user's temporary folder as the system reports it, ending with a separator.
std::string TemporaryFolder();

// The temporary folder followed by "Screenshot.png"; empty when screenshots are off (no capture,
// no attachment).
std::string ScreenshotPath(bool attachScreenshot);

// Captures the screen and writes it to `path`, replacing any file of that name; nothing for an
// empty path. Failures raise (EInOutError for the file, Exception for the capture).
void CaptureScreenshotPng(const std::string& path);

}  // namespace pelloran::crashlog
