#include "mode_dispatch.h"

#include "setup/core/progress.h"
#include "setup/core/setup_context.h"
#include "setup/core/setup_error.h"
#include "setup/install/folder_check.h"
#include "setup/install/install.h"
#include "setup/install/run_lock.h"
#include "setup/release/http_client.h"
#include "setup/release/release_discovery.h"
#include "setup/uninstall/relaunch.h"
#include "setup/uninstall/uninstall.h"
#include "setup/window/screens/setup_window.h"

#include "foundation/log.h"
#include "foundation/paths.h"

namespace qv {
namespace {

constexpr int exitSuccess = 0;
constexpr int exitFailure = 1;
constexpr int exitCancelled = 2;

int runWindow(const SetupOptions& options, SetupMode mode, const std::wstring& folder,
              bool askFirst, HINSTANCE instance) {
    SetupWindow window(options, mode, folder, askFirst);
    return window.run(instance);
}

int runSilentUninstall(const SetupOptions& options, const std::wstring& root) {
    int result = exitSuccess;
    {
        SilentProgress progress;
        HttpClient http(userAgent);
        SetupContext context(options, &progress, &http);
        try {
            runUninstall(context, root);
        } catch (const SetupError& error) {
            logError(L"%ls", errorReport(error, root, L"").c_str());
            result = exitFailure;
        }
    }
    removeTempCopy();
    return result;
}

int runUninstallBranch(const SetupOptions& options, HINSTANCE instance) {
    std::wstring program = modulePath();
    std::wstring root = options.uninstallRoot.empty() ? parentFolder(program) : fullPath(options.uninstallRoot);
    // A temporary copy never hands over again, even when the root it removes
    // contains the temporary folder: that would start copy after copy.
    if (isUnderFolder(program, root) && !runsAsTempCopy())
        return relaunchFromTemp(options, root) ? exitSuccess : exitFailure;
    if (options.silent) return runSilentUninstall(options, root);

    int result = runWindow(options, SetupMode::Uninstall, root, false, instance);
    removeTempCopy();
    return result;
}

int runSilentInstall(const SetupOptions& options, std::wstring folder, bool mayFallBack) {
    SilentProgress progress;
    HttpClient http(userAgent);
    SetupContext context(options, &progress, &http);
    try {
        // Before the folder check, which makes and removes the folder; the
        // install takes it again on this thread.
        SetupRunLock lock(context);
        DiscoverRelease(context);
        std::wstring problem = checkInstallFolder(context, folder);
        if (!problem.empty() && mayFallBack) {
            std::wstring fallback = findFallbackFolder(context);
            if (!fallback.empty()) {
                logWarn(L"Default folder unusable, using %ls", fallback.c_str());
                folder = fallback;
            }
        }
        runInstall(context, folder);
        return exitSuccess;
    } catch (const SetupError& error) {
        std::wstring version = context.releaseKnown ? context.releaseVersion : std::wstring();
        logError(L"%ls", errorReport(error, folder, version).c_str());
        return error.code == L"QV-CANCEL" ? exitCancelled : exitFailure;
    }
}

int runInstallBranch(const SetupOptions& options, HINSTANCE instance) {
    std::wstring existing;
    if (!options.dir.empty())
        existing = holdsInstall(options.dir) ? options.dir : std::wstring();
    else
        existing = registeredInstallFolder();
    std::wstring folder = !options.dir.empty() ? options.dir : !existing.empty() ? existing : defaultInstallFolder();
    logInfo(L"Install folder: %ls (existing install: %ls)", folder.c_str(),
            existing.empty() ? L"none" : existing.c_str());

    if (options.silent) return runSilentInstall(options, folder, options.dir.empty() && existing.empty());

    SetupMode mode = existing.empty() ? SetupMode::Install : SetupMode::Upgrade;
    bool askFirst = existing.empty() && !options.update;
    return runWindow(options, mode, folder, askFirst, instance);
}

}  // namespace

int runSetupMode(const SetupOptions& options, HINSTANCE instance) {
    return options.uninstall ? runUninstallBranch(options, instance) : runInstallBranch(options, instance);
}

}  // namespace qv
