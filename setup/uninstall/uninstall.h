// Removing one install: shortcuts, registry entries, the setup-owned
// entries of the root and, when asked, the user's data folders.
#pragma once

#include "setup/core/setup_context.h"

#include <string>

namespace qv {

// Throws SetupError QV-UN-1 (no install there), QV-UN-2 (files left, or a
// root that cannot be listed; the uninstall entry and Uninstall.exe then
// stay), QV-RUN-2 (another run holds the install), and lets QV-RUN-1 and
// QV-CANCEL of the running-app wait through.
void runUninstall(SetupContext& context, const std::wstring& root);

// Removes root's setup-owned entries, Uninstall.exe only after all others
// went, then root when it is empty. True when every owned entry went; the
// first that did not (root itself when it cannot be listed) goes to
// firstFailure when that is empty.
bool removeOwnedEntries(const std::wstring& root, std::wstring& firstFailure);

// True when command names root or something inside it: root occurs in it,
// ignoring case, followed by a backslash, a double quote or the end.
bool commandNamesFolder(const std::wstring& command, const std::wstring& root);

}  // namespace qv
