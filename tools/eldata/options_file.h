#pragma once
// The options file kept with a program's sources: one "Name = value" per line, "#" starts a
// comment line. Names are the fields of the options record; whatever the file does not name keeps
// its default. Values:
//   bool       true / false (also 1 / 0, yes / no)
//   numbers    decimal or 0x hexadecimal (ReportFields, ReportOptions, SendMode, ...)
//   text       the rest of the line, trimmed; \n is LF, \r is CR, \t TAB, \\ a backslash
//   Texts[n]   one of the 71 texts, n from 0 to 70
//   Filter     "ClassName | message": appends one pair to FilterClasses / FilterMessages
//   CodePage   the program's ANSI code page (936 for Simplified Chinese; 1252 when not named)
// The file is UTF-8, with or without a byte order mark; every value is stored in the code page, the
// one the program's dialogs show their texts in. Bytes that are not UTF-8, and characters the code
// page has no place for, are errors that name their line.

#include <string>

#include "crashlog/infra/options/option_stream.h"

namespace pelloran::eldata {

// Applies the file's settings to `values`. Throws std::runtime_error naming the file and line of
// the first unknown name or bad value.
void LoadOptionsFile(const std::string& path, crashlog::TCrashOptionValues& values);
// The same from text (`origin` names it in messages).
void ParseOptionsText(const std::string& text, const std::string& origin, crashlog::TCrashOptionValues& values);

}  // namespace pelloran::eldata
