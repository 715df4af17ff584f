// Switching a staged version in, writing the launcher, pruning old versions.
#pragma once

#include "setup/core/setup_context.h"

#include <windows.h>

#include <functional>
#include <string>

namespace qv {

// Moves staged (root\app-<version>.tmp) to final (root\app-<version>); an
// existing final goes to final + ".old" first and comes back when the
// switch fails. Throws SetupError QV-INST-1 or QV-INST-2.
void swapInVersion(const SetupContext& context, const std::wstring& staged,
                   const std::wstring& final);

// Moves each app-<version>.old whose app-<version> is missing back into
// place (see findSetAsideVersions), so that the run starts from the install
// the launcher has been starting. Never throws; logs.
void restoreSetAsideVersions(const std::wstring& root);

// Writes root\QuorvelAI.exe from the program's launcher resource (101).
// Throws QV-INST-3 or QV-INST-4.
void writeLauncher(const SetupContext& context, const std::wstring& root);

// Replaces target by newFile. A target in use is renamed aside to
// target + ".old-<tick>" first; when the new file still cannot take its
// place, the aside copy is moved back, so a launcher is never lost. Throws
// QV-INST-4. replace is moveReplacing except in tests.
using ReplaceFile = std::function<bool(const std::wstring& from, const std::wstring& to, DWORD* error)>;
void replaceLauncherFile(const std::wstring& newFile, const std::wstring& target,
                         const ReplaceFile& replace);

// Removes every version folder of root but context.releaseVersion and the
// newest older version that holds the program, and the set-aside launchers
// (QuorvelAI.exe.old-*) no longer in use. Never throws; logs.
void pruneVersions(const SetupContext& context, const std::wstring& root);

}  // namespace qv
