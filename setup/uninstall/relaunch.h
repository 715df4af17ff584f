// The uninstaller's hand-over to a copy of itself in the temporary folder,
// and that copy's delayed self-delete.
#pragma once

#include "setup/core/options.h"

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

}  // namespace qv
