#include "delta_install.h"

#include "install_layout.h"

#include "setup/core/progress.h"
#include "setup/core/setup_error.h"
#include "setup/delta/delta_apply.h"
#include "setup/release/download_meter.h"
#include "setup/unpack/unpack_payload.h"

#include "foundation/app_versions.h"
#include "foundation/files.h"
#include "foundation/folder_tree.h"
#include "foundation/log.h"
#include "foundation/paths.h"
#include "foundation/text.h"

#include <windows.h>

#include <vector>

namespace qv {
namespace {

void fallBack(const std::wstring& why) {
    logWarn(L"Delta update not used: %ls; downloading the full payload", why.c_str());
}

// The volume a path lies on, in the long form so that an install path of
// any length is answered (a MAX_PATH buffer would fail on a long one).
std::wstring volumeOf(const std::wstring& path) {
    std::wstring full = longPath(path);
    std::vector<wchar_t> volume(full.size() + 2);
    if (!GetVolumePathNameW(full.c_str(), volume.data(), static_cast<DWORD>(volume.size()))) return {};
    return volume.data();
}

bool sameDrive(const std::wstring& a, const std::wstring& b) {
    std::wstring first = volumeOf(a);
    return !first.empty() && equalsIgnoreCase(first, volumeOf(b));
}

DownloadTarget deltaTarget(const SetupContext& context, const ReleaseDelta& delta) {
    std::string prefix = delta.sha256.substr(0, 12);
    std::wstring name = formatText(L"QuorvelAI-%ls-from-%ls-%hs.delta", context.releaseVersion.c_str(),
                                   delta.baseVersion.c_str(), prefix.c_str());
    return {delta.url, delta.sha256, delta.size, joinPath(downloadFolder(), name)};
}

// The proved delta file, or empty text after a WARN line.
std::wstring downloadDelta(SetupContext& context, const DownloadTarget& target, const std::wstring& root) {
    uint64_t need = deltaSpaceNeeded(target, context.unpackedSize, root);
    uint64_t free = freeDiskSpace(tempFolder());
    if (free < need) {
        fallBack(L"it needs " + megabytesText(need) + L" free, the drive has " + megabytesText(free));
        return {};
    }
    try {
        return DownloadVerified(context, target);
    } catch (const SetupError& error) {
        if (error.code == L"QV-CANCEL") throw;
        checkCancelled(context);
        fallBack(L"the delta did not download (" + error.code + L": " + error.message + L")");
        return {};
    }
}

}  // namespace

const ReleaseDelta* chooseDelta(const SetupContext& context, const std::wstring& root,
                                std::wstring* baseFolder) {
    std::vector<std::wstring> versions = findAppVersions(root, launcherFileName);
    if (versions.empty() || equalsIgnoreCase(versions.front(), context.releaseVersion)) return nullptr;
    for (const ReleaseDelta& delta : context.deltas) {
        if (!equalsIgnoreCase(delta.baseVersion, versions.front())) continue;
        *baseFolder = joinPath(root, L"app-" + versions.front());
        return isFolder(*baseFolder) ? &delta : nullptr;
    }
    return nullptr;
}

uint64_t deltaSpaceNeeded(const DownloadTarget& target, uint64_t unpackedSize, const std::wstring& root) {
    // A proved delta left by an earlier run is used as it is.
    uint64_t have = fileSize(target.path) == target.size ? target.size : fileSize(target.path + L".part");
    uint64_t rest = target.size > have ? target.size - have : 0;
    uint64_t tree = sameDrive(parentFolder(target.path), root) ? unpackedSize : 0;
    if (tree > UINT64_MAX - spareRoom - rest) return UINT64_MAX;
    return rest + tree + spareRoom;
}

std::wstring stageFromDelta(SetupContext& context, const std::wstring& root, const std::wstring& staged) {
    std::wstring baseFolder;
    const ReleaseDelta* delta = chooseDelta(context, root, &baseFolder);
    if (!delta) return {};
    logInfo(L"Delta update from %ls: %ls", delta->baseVersion.c_str(), delta->url.c_str());
    DownloadTarget target = deltaTarget(context, *delta);
    std::wstring downloaded = downloadDelta(context, target, root);
    if (downloaded.empty()) return {};
    checkCancelled(context);

    beginStaging(context, staged);
    DeltaApplyResult result =
        applyDelta({downloaded, baseFolder, staged, delta->baseVersion, context.releaseVersion, context.unpackedSize},
                   stagingProgress(context.progress));
    if (result.ok) {
        logInfo(L"Built %llu files, %llu bytes from the delta", static_cast<unsigned long long>(result.files),
                static_cast<unsigned long long>(result.bytes));
        return downloaded;
    }
    removeTree(staged);
    // A cancel proves nothing against the delta: the next run uses it.
    if (result.cancelled) {
        checkCancelled(context);
        throw SetupError::cancelled();
    }
    DeleteFileW(longPath(downloaded).c_str());
    fallBack(result.message);
    return {};
}

}  // namespace qv
