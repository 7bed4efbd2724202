#pragma once
// The one exception class of every socket, DNS and SMTP failure of the report delivery.

#include "base/exceptions.h"

namespace pelloran::crashlog {

PELLORAN_EXCEPTION_CLASS(ECrashSocketError, Exception);

}  // namespace pelloran::crashlog
