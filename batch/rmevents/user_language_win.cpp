#include "batch/rmevents/user_language_win.h"

#include <windows.h>

namespace pelloran::rmevents {

LogLanguage UserLogLanguage() { return LanguageFor(GetUserDefaultUILanguage(), GetACP()); }

}  // namespace pelloran::rmevents
