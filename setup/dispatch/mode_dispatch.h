// Carries out the mode chosen by the entry and returns the exit code.
#pragma once

#include "setup/core/options.h"

#include <windows.h>

namespace qv {

// Uninstall (relaunched from the temporary folder, or in place) or install,
// silent on this thread or through the setup window. 0, 1 or 2.
int runSetupMode(const SetupOptions& options, HINSTANCE instance);

}  // namespace qv
