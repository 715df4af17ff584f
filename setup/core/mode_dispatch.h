// Carries out the mode chosen by the entry and returns the exit code.
#pragma once

#include "options.h"

#include <windows.h>

namespace qv {

int runSetupMode(const SetupOptions& options, HINSTANCE instance);

}  // namespace qv
