// A CGI program that fails: it sends the probe report as the error page. With "closed-stdout" it
// first loses its standard output and must report that it could not write.
// Exit codes: 0 as expected, 2 not seen as a CGI program, 3 the write did not go as expected.

#include "crashlog/infra/diagnostics/error_code.h"
#include "crashlog/infra/web/web.h"
#include "tests/crashlog/infra/web/web_probe_text.h"

#include <cstdio>
#include <cstring>

using namespace pelloran::crashlog;
using namespace pelloran::testing;

int main(int argc, char** argv) {
  const bool closedOutput = argc > 1 && std::strcmp(argv[1], "closed-stdout") == 0;
  if (!IsCGI() || IsWinCGI() || IsISAPI() || !IsWebApplication() || IsGUIApplication()) {
    std::fprintf(stderr, "cgi_probe: not seen as a CGI program\n");
    return 2;
  }
  if (closedOutput) {
    CloseHandle(GetStdHandle(STD_OUTPUT_HANDLE));
    const bool written = WriteWebError(ErrorPage(kProbeTitle, kProbeReport));
    const bool warned = LastErrorCode() == eeShowError && LastErrorMessage() == "CGI: Cannot write in the ouput file.";
    std::fprintf(stderr, "cgi_probe: written %d, warning \"%s\"\n", written, LastErrorMessage().c_str());
    return !written && warned ? 0 : 3;
  }
  return WriteWebError(ErrorPage(kProbeTitle, kProbeReport)) ? 0 : 3;
}
