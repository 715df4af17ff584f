#include "install.h"

#include "downgrade_guard.h"
#include "folder_check.h"
#include "install_layout.h"
#include "registration.h"
#include "run_lock.h"
#include "running_app.h"
#include "shortcuts.h"
#include "signature.h"
#include "squirrel.h"
#include "version_swap.h"

#include "setup/core/progress.h"
#include "setup/core/setup_error.h"
#include "delta_install.h"
#include "setup/release/payload_download.h"
#include "setup/release/release_discovery.h"
#include "setup/release/version_choice.h"
#include "setup/unpack/unpack_payload.h"

#include "foundation/app_versions.h"
#include "foundation/command_line.h"
#include "foundation/files.h"
#include "foundation/folder_tree.h"
#include "foundation/handles.h"
#include "foundation/log.h"
#include "foundation/paths.h"
#include "foundation/system_facts.h"

#include <sddl.h>

namespace qv {
namespace {

bool shouldLaunch(const SetupContext& context) {
    if (context.launch == 1) return true;
    if (context.launch == 0) return false;
    return !context.silent || context.update;
}

void launchIfWanted(const SetupContext& context, const std::wstring& root) {
    if (shouldLaunch(context)) startInstalledApp(context, root);
}

// An --update finds nothing to do only when the release is in place and
// registered for this root: a run that was ended after the switch-over
// left the files but not the entry, and must be finished, not skipped.
bool alreadyCurrent(const SetupContext& context, const std::wstring& root) {
    std::wstring program = joinPath(joinPath(root, L"app-" + context.releaseVersion), launcherFileName);
    if (!isFile(program) || !isFile(joinPath(root, launcherFileName))) return false;
    std::wstring location = readRegistryString(uninstallKeyPath, L"InstallLocation");
    std::wstring version = readRegistryString(uninstallKeyPath, L"DisplayVersion");
    return !location.empty() && equalsIgnoreCase(fullPath(location), root) &&
           equalsIgnoreCase(version, context.releaseVersion);
}

// True when the newest installed version is withdrawn and the chosen one
// is older: the run then installs the older one and prune removes the
// withdrawn one. --version is the user's own choice and is never weighed.
bool recallsInstalledVersion(const SetupContext& context, const std::wstring& root) {
    if (!context.version.empty()) return false;
    std::vector<std::wstring> installed = findAppVersions(root, launcherFileName);
    std::wstring newest = installed.empty() ? std::wstring() : installed.front();
    if (weighInstalled(context.revokedVersions, context.releaseVersion, newest) != InstalledVerdict::Recall)
        return false;
    logWarn(L"Version %ls was withdrawn by the publisher; installing %ls", newest.c_str(),
            context.releaseVersion.c_str());
    return true;
}

void createRoot(const std::wstring& root) {
    DWORD error = 0;
    bool created = createFolderTree(parentFolder(root), &error);
    if (created) {
        std::wstring profile = environmentVariable(L"USERPROFILE");
        bool insideProfile = !profile.empty() && isUnderFolder(root, profile);
        created = insideProfile ? createFolderTree(root, &error) : createInstallFolderWithAcl(root, &error);
    }
    if (!created)
        throw SetupError(L"QV-DIR-2", L"The setup cannot create the install folder.",
                         root + L": " + windowsErrorText(error), false);
}

// Everything after the switch-over either cannot fail the run or, for the
// launcher, fails it with the new version already in place.
void finishInstall(SetupContext& context, const std::wstring& root, bool existing, bool fromSquirrel) {
    writeLauncher(context, root);
    copyUninstaller(context, root);
    if (fromSquirrel && existing) removeSquirrelLeftovers(context, root);
    writeUninstallEntry(context, root);
    updateShortcuts(context, root, !existing);
    pruneVersions(context, root);
    if (!existing) writeAttributionStamp(context);
}

}  // namespace

void runInstall(SetupContext& context, const std::wstring& folder) {
    std::wstring root = fullPath(folder);
    SetupRunLock lock(context);
    restoreSetAsideVersions(root);
    if (!context.releaseKnown) DiscoverRelease(context);
    if (keepNewerInstalledVersion(context, root)) {
        keepDrawnRolloutBucket(context);
        context.progress->setProgress(1.0);
        launchIfWanted(context, root);
        return;
    }

    bool fromSquirrel = isFile(joinPath(root, L"Update.exe")) || isFolder(joinPath(root, L"packages"));
    bool existing = holdsInstall(root);
    const wchar_t* modeText = !existing ? L"fresh install" : fromSquirrel ? L"upgrade from Squirrel" : L"upgrade";
    logInfo(L"Installing %ls into %ls (%ls)", context.releaseVersion.c_str(), root.c_str(), modeText);

    std::wstring code;
    std::wstring problem = checkInstallFolder(context, root, &code);
    if (!problem.empty()) throw SetupError(code.c_str(), problem, root, false);

    if (!isFolder(root)) createRoot(root);

    bool recall = recallsInstalledVersion(context, root);
    if (context.update && existing && !recall && alreadyCurrent(context, root)) {
        logInfo(L"%ls is already installed in %ls; nothing to update", context.releaseVersion.c_str(),
                root.c_str());
        keepDrawnRolloutBucket(context);
        context.progress->setProgress(1.0);
        launchIfWanted(context, root);
        return;
    }

    context.progress->setProgress(-1);
    std::wstring final = joinPath(root, L"app-" + context.releaseVersion);
    std::wstring staged = final + L".tmp";
    // Either path ends with the new version's files proved in staged.
    std::wstring downloaded = stageFromDelta(context, root, staged);
    if (downloaded.empty()) {
        downloaded = DownloadPayload(context);
        checkCancelled(context);
        UnpackPayload(context, downloaded, staged);
    }
    try {
        checkCancelled(context);
        checkProgramSignature(context, staged);
        waitForAppToClose(context, root);
    } catch (...) {
        removeTree(staged);
        throw;
    }

    context.progress->reportStatus(StatusLine::Finishing, L"Finishing\u2026");
    context.progress->setProgress(-1);
    swapInVersion(context, staged, final);
    finishInstall(context, root, existing, fromSquirrel);

    DeleteFileW(longPath(downloaded).c_str());
    context.progress->setProgress(1.0);
    logInfo(L"Install finished");
    launchIfWanted(context, root);
}

void startInstalledApp(const SetupContext&, const std::wstring& root) {
    std::wstring program = joinPath(root, launcherFileName);
    std::wstring commandLine = quoteArgument(program);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        root.c_str(), &startup, &process)) {
        logWarn(L"Could not start %ls: %ls", program.c_str(), windowsErrorText(GetLastError()).c_str());
        return;
    }
    KernelHandle processHandle(process.hProcess);
    KernelHandle threadHandle(process.hThread);
    AllowSetForegroundWindow(process.dwProcessId);
    logInfo(L"Started %ls", program.c_str());
}

bool createInstallFolderWithAcl(const std::wstring& folder, DWORD* error) {
    auto fail = [error]() {
        if (error) *error = GetLastError();
        return false;
    };
    KernelHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return fail();
    alignas(TOKEN_USER) BYTE userBuffer[256];
    DWORD length = 0;
    if (!GetTokenInformation(token.get(), TokenUser, userBuffer, sizeof(userBuffer), &length)) return fail();
    wchar_t* sidText = nullptr;
    if (!ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(userBuffer)->User.Sid, &sidText)) return fail();
    LocalMemory sidOwner(sidText);

    // Only the system, administrators and this user; nothing inherited from
    // a parent that others may write to.
    std::wstring sddl = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;" + std::wstring(sidText) + L")";
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor,
                                                              nullptr))
        return fail();
    LocalMemory descriptorOwner(descriptor);
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor, FALSE};
    if (!CreateDirectoryW(longPath(folder).c_str(), &attributes)) return fail();
    // The permissions do not show in the log, which is what support sees.
    logInfo(L"Created %ls for this user only", folder.c_str());
    return true;
}

}  // namespace qv
