#include "version_swap.h"

#include "install_layout.h"

#include "setup/core/setup_error.h"

#include "foundation/app_versions.h"
#include "foundation/files.h"
#include "foundation/folder_tree.h"
#include "foundation/handles.h"
#include "foundation/log.h"
#include "foundation/paths.h"
#include "foundation/system_facts.h"
#include "foundation/text.h"
#include "foundation/versions.h"

namespace qv {
namespace {

constexpr int launcherResourceId = 101;

SetupError launcherWriteError(const std::wstring& file, DWORD error) {
    return SetupError(L"QV-INST-4", L"The setup could not write QuorvelAI's start program.",
                      file + L": " + windowsErrorText(error), true);
}

bool writeWholeFile(const std::wstring& path, const void* bytes, DWORD size, DWORD& error) {
    FileHandle file(CreateFileW(longPath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        error = GetLastError();
        return false;
    }
    DWORD written = 0;
    if (!WriteFile(file.get(), bytes, size, &written, nullptr)) {
        error = GetLastError();
        return false;
    }
    if (written != size) {
        error = ERROR_WRITE_FAULT;
        return false;
    }
    return true;
}

// Launchers set aside because they ran while being replaced. Windows
// deletes them at a restart only for an administrator, so each install
// removes those that nothing runs from any more (Windows refuses to delete
// a program in use).
void removeSetAsideLaunchers(const std::wstring& root) {
    const std::wstring prefix = std::wstring(launcherFileName) + L".old-";
    for (const FolderEntry& entry : listFolder(root)) {
        if (entry.isFolder() || entry.name.size() <= prefix.size() ||
            !equalsIgnoreCase(entry.name.substr(0, prefix.size()), prefix))
            continue;
        std::wstring path = joinPath(root, entry.name);
        if (DeleteFileW(longPath(path).c_str())) logInfo(L"Removed %ls", path.c_str());
    }
}

}  // namespace

void swapInVersion(const SetupContext&, const std::wstring& staged, const std::wstring& final) {
    std::wstring old = final + L".old";
    DWORD error = 0;
    if (isFolder(final)) {
        removeTree(old);
        if (!moveWithRetry(final, old, &error))
            throw SetupError(L"QV-INST-1",
                             L"The setup could not replace the installed version. Restart the PC and try again.",
                             final + L": " + windowsErrorText(error), true);
    }
    if (moveWithRetry(staged, final, &error)) {
        removeTree(old);
        logInfo(L"Switched %ls in", final.c_str());
        return;
    }
    if (isFolder(old)) {
        DWORD restoreError = 0;
        if (!moveWithRetry(old, final, &restoreError))
            logError(L"Could not restore %ls (%lu)", final.c_str(), restoreError);
    }
    throw SetupError(L"QV-INST-2", L"The setup could not finish installing. Restart the PC and try again.",
                     staged + L" -> " + final + L": " + windowsErrorText(error), true);
}

void restoreSetAsideVersions(const std::wstring& root) {
    for (const std::wstring& version : findSetAsideVersions(root, launcherFileName)) {
        std::wstring final = joinPath(root, L"app-" + version);
        std::wstring old = final + L".old";
        // One attempt: a copy still running from it keeps it where it is,
        // and the launcher goes on starting it from there.
        if (MoveFileExW(longPath(old).c_str(), longPath(final).c_str(), 0))
            logInfo(L"Restored %ls", final.c_str());
        else
            logWarn(L"Could not restore %ls (%lu)", final.c_str(), GetLastError());
    }
}

void replaceLauncherFile(const std::wstring& newFile, const std::wstring& target,
                         const ReplaceFile& replace) {
    DWORD error = 0;
    if (replace(newFile, target, &error)) return;

    // A running launcher cannot be replaced, but it can be renamed.
    std::wstring aside = target + formatText(L".old-%llu", GetTickCount64());
    if (!MoveFileExW(longPath(target).c_str(), longPath(aside).c_str(), 0)) {
        DWORD renameError = GetLastError();
        // No launcher yet and nothing to set aside: the replace's own error counts.
        throw launcherWriteError(target, isFile(target) ? renameError : error);
    }
    if (!replace(newFile, target, &error)) {
        // Something else holds the new file (a scanner, say): put the old
        // launcher back so that the shortcuts keep working.
        if (!MoveFileExW(longPath(aside).c_str(), longPath(target).c_str(), 0))
            logError(L"Could not restore %ls (%lu)", target.c_str(), GetLastError());
        throw launcherWriteError(target, error);
    }
    // The old launcher may still run; Windows deletes it at the next restart.
    MoveFileExW(longPath(aside).c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    logInfo(L"Set the launcher in use aside as %ls", aside.c_str());
}

void writeLauncher(const SetupContext&, const std::wstring& root) {
    HMODULE self = GetModuleHandleW(nullptr);
    HRSRC info = FindResourceW(self, MAKEINTRESOURCEW(launcherResourceId), RT_RCDATA);
    HGLOBAL loaded = info ? LoadResource(self, info) : nullptr;
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    DWORD size = info ? SizeofResource(self, info) : 0;
    if (!bytes || size == 0)
        throw SetupError(L"QV-INST-3", L"The setup is damaged. Download it again.",
                         L"launcher resource missing", false);

    std::wstring target = joinPath(root, launcherFileName);
    std::wstring newFile = target + L".new";
    DWORD error = 0;
    if (!writeWholeFile(newFile, bytes, size, error)) throw launcherWriteError(newFile, error);
    replaceLauncherFile(newFile, target, [](const std::wstring& from, const std::wstring& to, DWORD* e) {
        return moveReplacing(from, to, e);
    });
    logInfo(L"Wrote %ls", target.c_str());
}

void pruneVersions(const SetupContext& context, const std::wstring& root) {
    const std::wstring& current = context.releaseVersion;
    std::wstring keep;
    for (const std::wstring& version : findAppVersions(root, launcherFileName)) {
        // The scan also accepts "app-1.2", which is not ours: keeping it as
        // the fallback would remove the real one, app-1.2.0.
        if (!isVersionFolderName(L"app-" + version)) continue;
        if (compareVersions(version, current) < 0) {
            keep = version;
            break;
        }
    }
    std::vector<std::wstring> doomed;
    WIN32_FIND_DATAW entry;
    FindHandle find(FindFirstFileExW(longPath(joinPath(root, L"app-*")).c_str(), FindExInfoBasic,
                                     &entry, FindExSearchLimitToDirectories, nullptr, 0));
    if (find) {
        do {
            DWORD attributes = entry.dwFileAttributes;
            // The directory limit is only a hint; links are never pruned.
            if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
                continue;
            std::wstring name = entry.cFileName;
            if (!isVersionFolderName(name) || equalsIgnoreCase(name, L"app-" + current)) continue;
            if (!keep.empty() && equalsIgnoreCase(name, L"app-" + keep)) continue;
            doomed.push_back(joinPath(root, name));
        } while (FindNextFileW(find.get(), &entry));
    }
    find.reset();
    for (const std::wstring& path : doomed) {
        // The program goes first: the launcher starts only a version folder
        // that holds it, so a run ended half-way through the removal leaves
        // a folder it passes over, never a half-removed version it starts.
        DeleteFileW(longPath(joinPath(path, launcherFileName)).c_str());
        std::wstring firstFailure;
        if (removeTree(path, &firstFailure))
            logInfo(L"Removed %ls", path.c_str());
        else
            logWarn(L"Could not fully remove %ls (first: %ls)", path.c_str(), firstFailure.c_str());
    }
    if (!keep.empty()) DeleteFileW(longPath(joinPath(joinPath(root, L"app-" + keep), L"squirrel.exe")).c_str());
    removeSetAsideLaunchers(root);
}

}  // namespace qv
