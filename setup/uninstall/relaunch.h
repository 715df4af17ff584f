// The uninstaller's hand-over to a copy of itself in the temporary folder,
// and that copy's delayed self-delete.
#pragma once

#include "setup/core/options.h"

#include <windows.h>

#include <string>

namespace qv {

// True when the running program is a temporary uninstaller copy, which
// never relaunches again.
bool runsAsTempCopy();
// Copies the running program to %TEMP%\QuorvelAI-Uninstall-<pid>.exe and
// starts it to uninstall root; true when the copy started. Logs failures.
bool relaunchFromTemp(const SetupOptions& options, const std::wstring& root);
// When the running program lies in the temporary folder, starts a hidden
// command processor that deletes it about two seconds later.
void removeTempCopy();

// "QuorvelAI-Uninstall-<processId>.exe"
std::wstring tempCopyName(DWORD processId);
// The name has the form tempCopyName gives, ignoring case.
bool isTempCopyName(const std::wstring& name);
// The copy's command line: its path, the uninstall options naming root and
// the process to wait for, and the pass-on options that are set.
std::wstring tempCopyCommandLine(const std::wstring& copyPath, const SetupOptions& options,
                                 const std::wstring& root, DWORD waiterId);
// The command processor line that deletes program after a pause; empty when
// the program's path holds characters the command processor would expand.
std::wstring selfDeleteCommandLine(const std::wstring& commandProcessor,
                                   const std::wstring& program);
// The system folder's cmd.exe, from GetSystemDirectoryW whatever the
// environment says; empty when the folder cannot be read.
std::wstring commandProcessorPath();

}  // namespace qv
