// Taking over an install made by the earlier Squirrel-based installer.
#pragma once

#include "setup/core/setup_context.h"

#include <string>

namespace qv {

// Deletes Update.exe, SquirrelSetup.log, .dead, app.ico and packages\ from
// root. Never throws; logs.
void removeSquirrelLeftovers(const SetupContext& context, const std::wstring& root);

}  // namespace qv
