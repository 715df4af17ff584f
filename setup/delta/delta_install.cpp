#include "delta_install.h"

#include "delta_apply.h"

#include "setup/core/progress.h"
#include "setup/core/setup_error.h"
#include "setup/install/install_layout.h"
#include "setup/release/payload_download.h"

#include "foundation/app_versions.h"
#include "foundation/files.h"
#include "foundation/folder_tree.h"
#include "foundation/log.h"
#include "foundation/paths.h"
#include "foundation/system_facts.h"
#include "foundation/text.h"
#include "setup/release/download_meter.h"

#include <windows.h>

namespace qv {
namespace {

constexpr uint64_t spareRoom = 16777216;
constexpr ULONGLONG progressIntervalMs = 100;

void fallBack(const std::wstring& why) {
    logWarn(L"Delta update not used: %ls; downloading the full payload", why.c_str());
}

std::wstring volumeOf(const std::wstring& path) {
    wchar_t volume[MAX_PATH + 1] = {};
    if (!GetVolumePathNameW(path.c_str(), volume, MAX_PATH)) return {};
    return volume;
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
    uint64_t need = deltaSpaceNeeded(target.size, fileSize(target.path + L".part"), context.unpackedSize,
                                     sameDrive(tempFolder(), root));
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

DeltaApplyResult buildTree(SetupContext& context, const DeltaInputs& inputs) {
    Progress* progress = context.progress;
    progress->reportStatus(StatusLine::Installing,
                           L"Installing QuorvelAI " + context.releaseVersion + L"\u2026");
    progress->setDetail(L"");
    ULONGLONG lastUpdate = 0;
    auto onProgress = [progress, &lastUpdate](uint64_t done, uint64_t total) {
        ULONGLONG now = GetTickCount64();
        if (now - lastUpdate >= progressIntervalMs && total != 0) {
            lastUpdate = now;
            progress->setProgress(static_cast<double>(done) / total);
        }
        return !progress->isCancelled();
    };
    DeltaApplyResult result = applyDelta(inputs, onProgress);
    logInfo(L"Built %llu files, %llu bytes from the delta", static_cast<unsigned long long>(result.files),
            static_cast<unsigned long long>(result.bytes));
    return result;
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

uint64_t deltaSpaceNeeded(uint64_t deltaSize, uint64_t have, uint64_t unpackedSize, bool sameDrive) {
    uint64_t rest = deltaSize > have ? deltaSize - have : 0;
    uint64_t tree = sameDrive ? unpackedSize : 0;
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

    // A leftover of an earlier run must not mix into this version.
    removeTree(staged);
    DWORD error = 0;
    DeltaApplyResult result;
    if (!createFolderTree(staged, &error))
        result.message = L"Could not create " + staged + L": " + windowsErrorText(error);
    else
        result = buildTree(context,
                           {downloaded, baseFolder, staged, delta->baseVersion, context.releaseVersion});
    if (result.ok) return downloaded;

    removeTree(staged);
    DeleteFileW(longPath(downloaded).c_str());
    if (result.cancelled) {
        checkCancelled(context);
        throw SetupError::cancelled();
    }
    fallBack(result.message);
    return {};
}

}  // namespace qv
