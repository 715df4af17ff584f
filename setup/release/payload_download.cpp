#include "payload_download.h"

#include "download_meter.h"
#include "http_client.h"
#include "sha256_file.h"

#include "foundation/files.h"
#include "foundation/log.h"
#include "foundation/paths.h"
#include "foundation/system_facts.h"
#include "foundation/text.h"
#include "setup/core/progress.h"
#include "setup/core/setup_error.h"
#include "foundation/folder_tree.h"

namespace qv {
namespace {

constexpr int maxMismatches = 2;

// Go on while the user has not asked to stop.
ProgressCallback untilCancelled(const SetupContext& context) {
    return [&context](uint64_t, uint64_t) { return !context.progress->isCancelled(); };
}

void deleteFile(const std::wstring& path) { DeleteFileW(longPath(path).c_str()); }

// The earlier download when its size and hash still match; a damaged one
// is deleted so that it is not looked at again.
bool reuseEarlierDownload(const SetupContext& context, const DownloadTarget& target) {
    const std::wstring& finalPath = target.path;
    if (fileSize(finalPath) != target.size) return false;
    context.progress->reportStatus(StatusLine::CheckingEarlierDownload,
                                   L"Checking the earlier download\u2026");
    if (HashFileSha256(finalPath, untilCancelled(context)) == target.sha256) {
        logInfo(L"Reusing %ls", finalPath.c_str());
        return true;
    }
    // A check stopped by the user proves nothing against the file: keep it.
    checkCancelled(context);
    deleteFile(finalPath);
    return false;
}

void requireFreeSpace(const DownloadTarget& target, const std::wstring& folder,
                      const std::wstring& partPath) {
    uint64_t need = downloadSpaceNeeded(target.size, fileSize(partPath));
    uint64_t free = freeDiskSpace(folder);
    if (free >= need) return;
    throw SetupError(L"QV-DISK-2",
                     L"Not enough free disk space for the download. It needs " +
                         megabytesText(need) + L" on the drive of " + folder + L", which has " +
                         megabytesText(free) + L" free.",
                     L"", false);
}

// One pass of HttpClient::Download with the amount-and-speed line.
void downloadPass(SetupContext& context, const DownloadTarget& target, const std::wstring& partPath) {
    Progress& progress = *context.progress;
    DownloadMeter meter(GetTickCount64(), fileSize(partPath), target.size);
    ProgressCallback report = [&](uint64_t done, uint64_t total) {
        std::wstring detail;
        double fraction = 0;
        if (meter.update(GetTickCount64(), done, total, detail, fraction)) {
            if (fraction >= 0) progress.setProgress(fraction);
            progress.setDetail(detail);
        }
        return !progress.isCancelled();
    };
    std::wstring error;
    DownloadOutcome outcome =
        context.http->Download(target.url, partPath, target.size, report, error);
    if (outcome == DownloadOutcome::Cancelled) {
        checkCancelled(context);
        throw SetupError::cancelled();
    }
    if (outcome == DownloadOutcome::Failed)
        throw SetupError(L"QV-NET-5",
                         L"The download did not finish. Check your internet connection and try "
                         L"again; it continues where it stopped.",
                         target.url + L"\n" + error, true);
}

}  // namespace

std::wstring downloadFolder() { return joinPath(tempFolder(), L"QuorvelAI-Setup"); }

std::wstring payloadFilePath(const SetupContext& context) {
    std::string prefix = context.payloadSha256.substr(0, 12);
    return joinPath(downloadFolder(), formatText(L"QuorvelAI-%ls-%hs.tar.xz",
                                                 context.releaseVersion.c_str(), prefix.c_str()));
}

uint64_t downloadSpaceNeeded(uint64_t payloadSize, uint64_t have) {
    return (payloadSize > have ? payloadSize - have : 0) + spareRoom;
}

std::wstring DownloadPayload(SetupContext& context) {
    return DownloadVerified(context, {context.payloadUrl, context.payloadSha256, context.payloadSize,
                                      payloadFilePath(context)});
}

std::wstring DownloadVerified(SetupContext& context, const DownloadTarget& target) {
    std::wstring folder = downloadFolder();
    DWORD error = 0;
    if (!createFolderTree(folder, &error))
        throw SetupError(L"QV-TEMP-1", L"The setup cannot use the temporary folder.",
                         folder + L": " + windowsErrorText(error), false);
    const std::wstring& finalPath = target.path;
    std::wstring partPath = finalPath + L".part";
    if (reuseEarlierDownload(context, target)) return finalPath;
    checkCancelled(context);

    for (int mismatches = 0;;) {
        requireFreeSpace(target, folder, partPath);
        context.progress->reportStatus(
            StatusLine::Downloading,
            formatText(L"Downloading QuorvelAI %ls\u2026", context.releaseVersion.c_str()));
        downloadPass(context, target, partPath);
        context.progress->reportStatus(StatusLine::CheckingDownload, L"Checking the download\u2026");
        context.progress->setDetail(L"");
        context.progress->setProgress(-1);
        std::string hash = HashFileSha256(partPath, untilCancelled(context));
        checkCancelled(context);
        if (hash == target.sha256) break;
        // An unreadable file hashes to empty text and counts as a mismatch.
        ++mismatches;
        logWarn(L"Checksum mismatch: got %hs, expected %hs (round %d)", hash.c_str(),
                target.sha256.c_str(), mismatches);
        deleteFile(partPath);
        if (mismatches >= maxMismatches)
            throw SetupError(L"QV-HASH-1",
                             L"The download was damaged on the way, twice. A proxy or security "
                             L"program may be changing it.",
                             target.url, true);
    }
    if (!moveReplacing(partPath, finalPath, &error))
        throw SetupError(L"QV-TEMP-2", L"The setup cannot use the temporary folder.",
                         partPath + L": " + windowsErrorText(error), false);
    return finalPath;
}

}  // namespace qv
