#include "downgrade_guard.h"

#include "install_layout.h"

#include "foundation/app_versions.h"
#include "foundation/log.h"
#include "foundation/versions.h"
#include "setup/core/setup_error.h"
#include "setup/release/release_discovery.h"
#include "setup/release/version_choice.h"

#include <vector>

namespace qv {
namespace {

// Discovers the release of version in place of the index's; false (with a
// log line) when it cannot be had. Cancellation still ends the run.
bool rediscover(SetupContext& context, const std::wstring& version) {
    std::wstring asked = context.version;
    context.version = version;
    context.releaseKnown = false;
    try {
        DiscoverRelease(context);
    } catch (const SetupError& error) {
        context.version = asked;
        if (error.code == L"QV-CANCEL") throw;
        logInfo(L"Keeping the installed %ls as it is: its release cannot be had (%ls)",
                version.c_str(), error.code.c_str());
        return false;
    }
    context.version = asked;
    return true;
}

}  // namespace

bool keepNewerInstalledVersion(SetupContext& context, const std::wstring& root) {
    if (!context.version.empty()) return false;
    std::vector<std::wstring> installed = findAppVersions(root, launcherFileName);
    if (installed.empty()) return false;
    const std::wstring& newest = installed.front();
    // Not newer, or withdrawn by the publisher: the run installs the choice
    // (a withdrawn version is then pruned as any newer one is).
    if (weighInstalled(context.revokedVersions, context.releaseVersion, newest) != InstalledVerdict::KeepInstalled)
        return false;
    logInfo(L"The version index names %ls, older than the installed %ls; not going back to it",
            context.releaseVersion.c_str(), newest.c_str());
    if (context.update) {
        logInfo(L"Nothing to update: %ls stays installed in %ls", newest.c_str(), root.c_str());
        return true;
    }
    if (!rediscover(context, newest)) return true;
    logInfo(L"Repairing the installed %ls from its own release", newest.c_str());
    return false;
}

}  // namespace qv
