#pragma once
// Sending the report of the error in progress: the log copy and screenshot as attachments, the
// delivery path of the send mode, the application's handlers around it and its retries.

#include "crashlog/infra/options/options.h"

#include <functional>
#include <string>
#include <vector>

namespace pelloran::crashlog {

// What the delivery needs of the error in progress and of the pipeline around it. The pipeline
// fills it; the handler calls run the application's handlers on the exception's thread.
struct TReportDelivery {
  const TCrashModuleOptions* Options = nullptr;  // the working option set
  std::string SendText;                          // what is mailed
  std::string ReportText;                        // the report of the current error
  std::string ReproduceText;
  bool ScreenshotRequested = false;
  std::string ScreenshotPath;  // ScreenshotPath() of the capture; empty: none
  std::vector<std::string> Files;  // attached after them: the report's dump, the program's files
  bool GuiApplication = true;  // the progress window needs a desktop
  // The ActionHandler with BeforeSend / AfterSend: gets Execute, returns it as the handler left
  // it. Empty: no handler.
  std::function<bool(bool execute)> BeforeSend;
  std::function<bool(bool execute)> AfterSend;
  // The ActionFailedHandler with AfterSend: returns Retry. Empty: no handler.
  std::function<bool()> SendFailed;
};

// Runs the whole delivery and returns Execute as it stands at the end (what AfterSend saw).
bool SendErrorReport(const TReportDelivery& delivery);

// The copy of the log that goes with the mail: the temporary folder and the log file's name;
// empty when the log goes in the mail body.
std::string LogCopyPath(const TCrashModuleOptions& options);
// Writes `sendText` as CR LF lines to LogCopyPath (nothing when it is empty). False when the file
// could not be written; the mail then goes without it.
bool SaveLogCopy(const TCrashModuleOptions& options, const std::string& sendText);

// The attachments of the mail (log copy, screenshot when asked for, the files) and the body of the MAPI and
// SMTP paths (the option's body, then the log when it goes in the body).
std::vector<std::string> ReportAttachments(const TCrashModuleOptions& options, const TReportDelivery& delivery);
std::string ReportMailBody(const TCrashModuleOptions& options, const std::string& sendText);

}  // namespace pelloran::crashlog
