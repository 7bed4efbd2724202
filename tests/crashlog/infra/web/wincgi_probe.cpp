// A WinCGI program (no console) that fails: the server names a profile and an output file on the
// command line, and the probe writes the probe report as the error page into the output file.
// Exit codes: 0 written, 2 not seen as a WinCGI program, 3 the write failed.

#include "crashlog/infra/web/web.h"
#include "tests/crashlog/infra/web/web_probe_text.h"

using namespace pelloran::crashlog;
using namespace pelloran::testing;

int main() {
  if (!IsWinCGI() || IsCGI() || IsISAPI() || !IsWebApplication() || IsGUIApplication()) return 2;
  return WriteWebError(ErrorPage(kProbeTitle, kProbeReport)) ? 0 : 3;
}
