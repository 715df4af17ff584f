// The install run: from a chosen folder to a registered, launchable install.
#pragma once

#include "setup/core/setup_context.h"

#include <windows.h>

#include <string>

namespace qv {

// Fresh install, upgrade, repair or Squirrel takeover of folder. Throws
// SetupError; up to the switch-over a failure leaves the installed version
// as it was.
void runInstall(SetupContext& context, const std::wstring& folder);

// Starts root\QuorvelAI.exe. Never throws; logs.
void startInstalledApp(const SetupContext& context, const std::wstring& root);

// Creates folder (not its parents) with a private, non-inherited DACL and
// logs it. On failure stores the error in *error when given.
bool createInstallFolderWithAcl(const std::wstring& folder, DWORD* error = nullptr);

}  // namespace qv
