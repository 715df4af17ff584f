#include "uninstall.h"

#include "setup/core/progress.h"
#include "setup/core/setup_error.h"
#include "setup/core/timings.h"
#include "setup/install/folder_check.h"
#include "setup/install/install_layout.h"
#include "setup/install/registration.h"
#include "setup/install/run_lock.h"
#include "setup/install/running_app.h"
#include "setup/install/shortcuts.h"

#include "foundation/files.h"
#include "foundation/folder_tree.h"
#include "foundation/log.h"
#include "foundation/paths.h"
#include "foundation/system_facts.h"

#include <windows.h>
#include <shlobj.h>

namespace qv {
namespace {

constexpr const wchar_t* urlSchemeKey = L"Software\\Classes\\quorvel";
constexpr const wchar_t* urlCommandKey = L"Software\\Classes\\quorvel\\shell\\open\\command";
constexpr const wchar_t* dataFolderNames[] = {L"quorvel-ai", L"quorvelai"};

// Failure paths come back from the tree removal in their "\\?\" form; the
// user reads them in the error details, so they go back to the usual form.
std::wstring ordinaryForm(const std::wstring& path) {
    if (path.compare(0, 8, L"\\\\?\\UNC\\") == 0) return L"\\\\" + path.substr(8);
    if (path.compare(0, 4, L"\\\\?\\") == 0) return path.substr(4);
    return path;
}

bool isGone(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

// Removes one setup-owned entry of the root. Links are unlinked, never
// followed: a junction named like a version folder may point at the user's
// own files.
bool removeEntry(const std::wstring& path, const FolderEntry& entry, std::wstring& failure) {
    std::wstring target = longPath(path);
    if (entry.isLink()) {
        bool removed = entry.isFolder() ? RemoveDirectoryW(target.c_str()) != 0
                                        : DeleteFileW(target.c_str()) != 0;
        if (removed || isGone(GetLastError())) return true;
        failure = path;
        return false;
    }
    if (!entry.isFolder()) {
        SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (DeleteFileW(target.c_str()) || isGone(GetLastError())) return true;
        failure = path;
        return false;
    }
    if (!isFolder(path)) return true;
    std::wstring inner;
    if (removeTree(path, &inner)) return true;
    // The innermost path that stayed tells the user which file is held.
    failure = inner.empty() ? path : ordinaryForm(inner);
    return false;
}

// Unlike an install, which re-points them, the uninstall deletes pinned
// links too, and autostart links into the root.
void removeShortcutsInto(const std::wstring& root) {
    ShortcutFolders folders = userShortcutFolders();
    for (const std::wstring& folder : {folders.desktop, folders.pinned}) {
        for (const std::wstring& shortcut : listShortcutFiles(folder, false))
            if (shortcutPointsInto(shortcut, root)) DeleteFileW(longPath(shortcut).c_str());
    }
    removeStartMenuLinksInto(folders, root, false);
}

void deleteKeyTree(const wchar_t* path) {
    LSTATUS status = RegDeleteTreeW(HKEY_CURRENT_USER, path);
    if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND)
        RegDeleteKeyW(HKEY_CURRENT_USER, path);
}

bool namesRoot(const std::wstring& location, const std::wstring& root) {
    return !location.empty() && equalsIgnoreCase(fullPath(location), root);
}

void removeDataFolders() {
    std::wstring roaming = knownFolder(FOLDERID_RoamingAppData, L"APPDATA");
    // Without the roaming folder the names would be taken relative to the
    // current folder, which may hold anything.
    if (roaming.empty()) return;
    for (const wchar_t* name : dataFolderNames) {
        std::wstring folder = joinPath(roaming, name);
        if (isFolder(folder) && !removeTree(folder))
            logWarn(L"Could not fully delete %ls", folder.c_str());
    }
}

}  // namespace

bool commandNamesFolder(const std::wstring& command, const std::wstring& root) {
    if (root.empty() || command.size() < root.size()) return false;
    for (size_t at = 0; at + root.size() <= command.size(); ++at) {
        if (!equalsIgnoreCase(command.substr(at, root.size()), root)) continue;
        size_t next = at + root.size();
        // C:\Apps\Q must not claim "C:\Apps\Quorvel2\x.exe".
        if (next == command.size() || root.back() == L'\\' || command[next] == L'\\' ||
            command[next] == L'"')
            return true;
    }
    return false;
}

bool removeOwnedEntries(const std::wstring& root, std::wstring& firstFailure) {
    DWORD listError = 0;
    std::vector<FolderEntry> entries = listFolder(root, &listError);
    if (listError != 0) {
        // A root that cannot be read is not an empty one: its files stay.
        logWarn(L"Could not list %ls: %ls", root.c_str(), windowsErrorText(listError).c_str());
        if (firstFailure.empty()) firstFailure = root;
        return false;
    }
    bool allRemoved = true;
    const FolderEntry* uninstaller = nullptr;
    for (const FolderEntry& entry : entries) {
        if (!belongsToInstall(entry.name, entry.isFolder())) continue;
        // The uninstaller goes last, and only with everything else: while
        // anything of ours stays, Apps & features must still be able to
        // start it to finish the job.
        if (!entry.isFolder() && equalsIgnoreCase(entry.name, uninstallerFileName)) {
            uninstaller = &entry;
            continue;
        }
        std::wstring failure;
        if (removeEntry(joinPath(root, entry.name), entry, failure)) continue;
        if (firstFailure.empty()) firstFailure = failure;
        allRemoved = false;
    }
    if (allRemoved && uninstaller) {
        std::wstring failure;
        if (!removeEntry(joinPath(root, uninstaller->name), *uninstaller, failure)) {
            if (firstFailure.empty()) firstFailure = failure;
            allRemoved = false;
        }
    }
    // Only an empty root goes; one that holds the user's files stays.
    RemoveDirectoryW(longPath(root).c_str());
    return allRemoved;
}

void runUninstall(SetupContext& context, const std::wstring& rootText) {
    std::wstring root = fullPath(rootText);
    logInfo(L"Uninstalling %ls (remove data: %d)", root.c_str(), context.removeData ? 1 : 0);
    // Before anything is read or removed: an install running meanwhile may
    // be about to register this root or to fill it.
    SetupRunLock lock(context);

    // A root whose files are gone but which is still registered is accepted,
    // so that a run stopped half-way can be finished.
    if (!holdsInstall(root) && !namesRoot(readInstallLocation(), root))
        throw SetupError(L"QV-UN-1", L"QuorvelAI is not installed in " + root + L".", L"", false);

    if (context.progress) {
        context.progress->reportStatus(StatusLine::Removing, L"Removing QuorvelAI\u2026");
        context.progress->setProgress(-1);
    }
    if (context.waitPid != 0) {
        // The uninstaller that handed over may still be running from the root.
        waitForProcessExit(context.waitPid, timings().uninstallWaitPidMs);
        context.waitPid = 0;
    }
    waitForAppToClose(context, root);

    removeShortcutsInto(root);
    notifyShellOfChanges();

    std::wstring command = readRegistryString(urlCommandKey, nullptr);
    if (!command.empty() && commandNamesFolder(command, root)) deleteKeyTree(urlSchemeKey);

    bool removed = false;
    std::wstring firstFailure;
    const uint32_t attempts = timings().removeAttempts;
    for (uint32_t attempt = 1; attempt <= attempts; ++attempt) {
        firstFailure.clear();
        removed = removeOwnedEntries(root, firstFailure);
        if (removed) break;
        // Another program may hold a file briefly (a virus scanner, the
        // indexer): wait and try again.
        logWarn(L"Could not remove %ls (attempt %u of %u)", firstFailure.c_str(), attempt,
                attempts);
        Sleep(timings().removePauseMs);
    }

    if (context.removeData) removeDataFolders();

    // The entry goes only with the last of our files: until then it is how
    // the user finishes the removal after a restart.
    if (removed) {
        std::wstring location = readInstallLocation();
        if (location.empty() || namesRoot(location, root)) deleteKeyTree(uninstallKeyPath);
    }
    if (!removed)
        throw SetupError(L"QV-UN-2",
                         L"Some QuorvelAI files could not be removed. Restart the PC and try "
                         L"again. They are in " + root,
                         firstFailure, false);
    for (const std::wstring& name : listForeignEntries(root))
        logInfo(L"Kept %ls: not installed by the setup", joinPath(root, name).c_str());
    logInfo(L"Uninstall finished");
}

}  // namespace qv
