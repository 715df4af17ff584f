// The setup program's process entry: log, run header, command line, the
// Windows 10 gate, uninstall detection, then the mode dispatch.
#pragma once

#include "options.h"

#include <windows.h>

namespace qv {

// Runs the whole program and returns its exit code: 0 success, 1 failure,
// 2 a cancelled silent install, 3 a bad command line.
// runMode carries out the chosen mode (the mode dispatch).
using ModeRunner = int (*)(const SetupOptions& options, HINSTANCE instance);
int runSetupEntry(HINSTANCE instance, ModeRunner runMode);

}  // namespace qv
