// Switching a staged version in, writing the launcher, pruning old versions.
#pragma once

#include "setup/core/setup_context.h"

#include <string>

namespace qv {

// Moves staged (root\app-<version>.tmp) to final (root\app-<version>); an
// existing final goes to final + ".old" first and comes back when the
// switch fails. Throws SetupError QV-INST-1 or QV-INST-2.
void swapInVersion(const SetupContext& context, const std::wstring& staged,
                   const std::wstring& final);

// Writes root\QuorvelAI.exe from the program's launcher resource (101). A
// launcher in use is set aside as QuorvelAI.exe.old-<tick> and restored when
// the new one still cannot take its place. Throws QV-INST-3 or QV-INST-4.
void writeLauncher(const SetupContext& context, const std::wstring& root);

// Removes every version folder of root but context.releaseVersion and the
// newest older version that holds the program. Never throws; logs.
void pruneVersions(const SetupContext& context, const std::wstring& root);

}  // namespace qv
