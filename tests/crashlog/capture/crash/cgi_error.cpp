// A CGI program answers its web client with the error page and status 500 instead of a dialog.
// ENV: REQUEST_METHOD=GET
// EXIT: 1
// ENTRIES: 1
// STDOUT: ^Status: 500
// STDOUT: <title>Error\.</title>
// STDOUT: 2\.4&nbsp;Type.*EInOutError
#include "base/exceptions.h"
#include "crashlog/flow/install.h"

using namespace pelloran;

int main() {
  crashlog::InstallReporter();
  throw pelloran::EInOutError("Template <page> & \"quotes\" missing", 2);
}
