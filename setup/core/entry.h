// The setup program's process entry: log, run header, command line, the
// Windows 10 gate, uninstall detection, then the mode dispatch.
#pragma once

#include <windows.h>

namespace qv {

// Runs the whole program and returns its exit code: 0 success, 1 failure,
// 2 a cancelled silent install, 3 a bad command line.
int runSetupEntry(HINSTANCE instance);

}  // namespace qv
