#pragma once
// Web error output: when the program runs as a web application nobody sees a dialog, so the
// report goes to the web client as an HTML page with status 500, through the channel its kind of
// application has: an ISAPI extension writes through the server's extension control block, a CGI
// program to its standard output, a WinCGI program into the output file the server names.
//
// Every operation reports its failures through the reporter's last-warning record and returns
// false; nothing is raised to the caller.

#include "crashlog/infra/web/thread_records.h"
#include "crashlog/infra/web/web_page.h"

#include <windows.h>
#include <httpext.h>

#include <string>
#include <string_view>

namespace pelloran::crashlog {

// The program file was linked for the console subsystem.
bool IsConsoleProgram();

// A console program started with the environment variable "REQUEST_METHOD".
bool IsCGI();
// A program that is not a console program, started with a WinCGI profile file (at most
// 102400 bytes, with a request method in section "CGI") as its first parameter and, as its third,
// the very file that the profile names as "Output File" of section "System", existing and empty.
// Decided from the files as they were when the program started; a file merely dropped on a
// program is never taken for its output.
bool IsWinCGI();
// The output file of the WinCGI request ("" when there is none).
std::string WinCGIOutputFile();
// The module holding the reporter is a library that exports "HttpExtensionProc".
bool IsISAPI();
// IsISAPI, IsCGI, IsWinCGI or IsIntraWeb, tested in this order.
bool IsWebApplication();
// Neither a web application nor a console program: only then may the reporter show windows.
bool IsGUIApplication();

// The extension control blocks of the ISAPI requests in progress, one per serving thread. The
// hook on the extension's entry point records the block for the thread that runs the request,
// for as long as the entry point runs (TServerECBScope).
using TServerECBRecords = TThreadRecords<DWORD, EXTENSION_CONTROL_BLOCK*>;
TServerECBRecords& ServerECBRecords();
// The control block recorded for `thread`; nullptr when that thread serves no request.
EXTENSION_CONTROL_BLOCK* ServerECB(DWORD thread);

class TServerECBScope : public TThreadRecordScope<DWORD, EXTENSION_CONTROL_BLOCK*> {
 public:
  explicit TServerECBScope(EXTENSION_CONTROL_BLOCK* block)
      : TThreadRecordScope(ServerECBRecords(), GetCurrentThreadId(), block) {}
};

// Sends `page` with status 500 to the web client of the request that `requestThread` serves (the
// thread of the exception; the pipeline may run on a worker thread for it). True when the page
// was handed over completely, or when the program is no CGI, WinCGI or ISAPI program and there is
// nothing to write.
bool WriteWebError(std::string_view page, DWORD requestThread = GetCurrentThreadId());

}  // namespace pelloran::crashlog
