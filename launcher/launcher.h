// The launcher: starts the newest installed version of the application with
// the launcher's own arguments, falling back to older versions that fail
// right after starting.
#pragma once

#include <string>

namespace qv {

// The raw command line after the program name, unchanged and unparsed.
std::wstring launcherArgumentText(const wchar_t* commandLine);

// Runs the launcher and returns its exit code: 0 when a version was started
// (or ended at once without error), 1 after an error message box.
int runLauncher();

}  // namespace qv
