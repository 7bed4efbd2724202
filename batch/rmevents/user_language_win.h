#pragma once
#include "batch/rmevents/log_language.h"

namespace pelloran::rmevents {

// The log's language for this user: their interface language and the ANSI code page.
LogLanguage UserLogLanguage();

}  // namespace pelloran::rmevents
