#include "unpack_payload.h"

#include "unpack_tar_xz.h"

#include "setup/core/progress.h"
#include "setup/core/setup_context.h"
#include "setup/core/setup_error.h"
#include "foundation/folder_tree.h"

#include "foundation/log.h"
#include "foundation/paths.h"
#include "foundation/system_facts.h"

#include <windows.h>

namespace qv {
namespace {

constexpr ULONGLONG progressIntervalMs = 100;
// winerror.h of mingw-w64 lacks the two errors a virus scanner gives.
constexpr DWORD errorVirusInfected = 225;
constexpr DWORD errorVirusDeleted = 226;

}  // namespace

void beginStaging(const SetupContext& context, const std::wstring& stagingFolder) {
    if (context.progress) {
        context.progress->reportStatus(StatusLine::Installing,
                                       L"Installing QuorvelAI " + context.releaseVersion + L"\u2026");
        context.progress->setDetail(L"");
    }
    // A leftover of an earlier failed run must not mix into this version;
    // a staging path that is a link is unlinked, never emptied.
    removeTree(stagingFolder);
    DWORD error = 0;
    if (!createFolderTree(stagingFolder, &error))
        throw SetupError(L"QV-DIR-2", L"The setup cannot create the install folder.",
                         stagingFolder + L": " + windowsErrorText(error), false);
}

ProgressCallback stagingProgress(Progress* progress) {
    ULONGLONG lastUpdate = 0;
    return [progress, lastUpdate](uint64_t done, uint64_t total) mutable {
        if (!progress) return true;
        ULONGLONG now = GetTickCount64();
        if (now - lastUpdate >= progressIntervalMs) {
            lastUpdate = now;
            if (total != 0) progress->setProgress(static_cast<double>(done) / total);
        }
        return !progress->isCancelled();
    };
}

SetupError unpackError(const UnpackResult& result) {
    switch (result.errorCode) {
        case 0:
            return SetupError(
                L"QV-UNPACK-2",
                L"The downloaded files are damaged. Run the setup again to download them again.",
                result.message, true);
        case ERROR_PATH_NOT_FOUND:
        case ERROR_FILENAME_EXCED_RANGE:
            return SetupError(
                L"QV-PATH-2",
                L"Windows refused a file path while installing. Try a shorter install folder.",
                result.message, true);
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case errorVirusInfected:
        case errorVirusDeleted:
            return SetupError(L"QV-AV-1",
                              L"Windows or a security program blocked a QuorvelAI file while "
                              L"installing. If you use an antivirus, allow QuorvelAI and try again.",
                              result.message, true);
        case ERROR_HANDLE_DISK_FULL:
        case ERROR_DISK_FULL:
            return SetupError(L"QV-DISK-3",
                              L"The disk filled up while installing. Free some space and try again.",
                              result.message, true);
        default:
            return SetupError(L"QV-UNPACK-1", L"Installing the files failed.", result.message, true);
    }
}

void UnpackPayload(const SetupContext& context, const std::wstring& payloadPath,
                   const std::wstring& stagingFolder, UnpackResult* totals) {
    beginStaging(context, stagingFolder);
    Progress* progress = context.progress;

    UnpackResult result = UnpackTarXz(payloadPath, stagingFolder, stagingProgress(progress));
    logInfo(L"Unpacked %llu files, %llu bytes", static_cast<unsigned long long>(result.files),
            static_cast<unsigned long long>(result.bytes));
    if (totals) *totals = result;
    if (result.ok) return;

    // No half-unpacked version may be left for the swap to pick up.
    removeTree(stagingFolder);
    if (result.cancelled) checkCancelled(context);
    throw unpackError(result);
}

}  // namespace qv
