// Choosing and checking the install folder before anything is downloaded.
#pragma once

#include "setup/core/setup_context.h"

#include <cstdint>
#include <string>
#include <vector>

namespace qv {

// %LOCALAPPDATA%\QuorvelAI.
std::wstring defaultInstallFolder();
// The folder exists and holds an install of ours (a version folder with the
// program, or only its set-aside copy app-<version>.old) or of the
// Squirrel-based installer.
bool holdsInstall(const std::wstring& folder);
// "InstallLocation" of the uninstall entry, as stored; empty when missing
// or unreadable.
std::wstring readInstallLocation();
// The registered install when it still holds one, else the default folder
// when it does, else empty.
std::wstring registeredInstallFolder();

// The problem text of folder for this release (empty when usable); the
// problem code ("QV-DIR-1", ...) goes to *code when given. Never throws.
// A folder that did not exist before the check does not exist after it.
std::wstring checkInstallFolder(const SetupContext& context, const std::wstring& folder,
                                std::wstring* code = nullptr);
// The not-enough-space text when freeBytes cannot hold unpackedSize plus the
// working margin; empty when it can.
std::wstring diskSpaceProblem(uint64_t unpackedSize, uint64_t freeBytes);

// %USERPROFILE%\QuorvelAI, then %SystemDrive%\QuorvelAI when it does not
// exist yet (this run makes it private to the user), is this user's
// registered install, or is owned by the current user. A folder there that
// another account made could be changed by it later.
std::vector<std::wstring> fallbackFolderCandidates();

// Whether the current user owns folder (false when that cannot be told).
bool ownedByCurrentUser(const std::wstring& folder);
// Test seam: when set, ownedByCurrentUser answers with it. The program
// itself never sets it. (Wine keeps no owners on files.)
using FolderOwnerCheck = bool (*)(const std::wstring& folder);
FolderOwnerCheck& folderOwnerCheck();
// The first candidate that passes the check; empty when none does.
std::wstring findFallbackFolder(const SetupContext& context);

// The short text the window shows for a problem code beside a fallback.
// problemText is the check's full text: it tells the projects folder from a
// folder with other files, which share QV-DIR-4.
std::wstring shortFolderProblem(const std::wstring& code, const std::wstring& problemText = L"");

}  // namespace qv
