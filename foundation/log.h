// The program's plain-text log: one UTF-8 line per event, shared by all
// threads of the process and by every run of the program. Every line also
// goes to the debugger output. The log never reports its own failures.
#pragma once

#include <string>

namespace qv {

// Opens (or re-opens) the log at path for appending. A file that has grown
// past 2 MiB is first cut back to its last 512 KiB. An empty path closes the
// log file: lines then go to the debugger output only.
void openLog(const std::wstring& path);
// One line at level INFO, WARN or ERROR; printf-style wide format.
void logInfo(const wchar_t* format, ...);
void logWarn(const wchar_t* format, ...);
void logError(const wchar_t* format, ...);
// The path given to the last openLog; empty before.
std::wstring currentLogPath();

}  // namespace qv
