#include "unpack_tar_xz.h"

#include "disk_sink.h"
#include "tar_reader.h"
#include "xz_decode_pipe.h"

#include "foundation/files.h"
#include "foundation/handles.h"
#include "foundation/log.h"
#include "foundation/paths.h"
#include "foundation/system_facts.h"
#include "foundation/text.h"

#include <windows.h>

namespace qv {
namespace {

bool fail(UnpackResult& result, const std::wstring& message) {
    if (result.message.empty()) result.message = message;
    return false;
}

// Feeds the decoded pieces to the reader on this thread (so that the sink
// and the progress run where the caller runs) while the pipe decodes the
// next piece. True when the whole payload was unpacked.
bool runPipe(XzDecodePipe& pipe, TarReader& reader, uint64_t total,
             const ProgressCallback& progress, UnpackResult& result) {
    const uint8_t* bytes = nullptr;
    size_t length = 0;
    uint64_t consumed = 0;
    while (pipe.next(bytes, length, consumed)) {
        bool fed = length == 0 || reader.Feed(bytes, length);
        pipe.release();
        if (!fed) return fail(result, reader.error());
        if (progress && !progress(consumed, total)) {
            result.cancelled = true;
            return fail(result, L"Cancelled");
        }
    }
    if (!pipe.failure().empty()) {
        result.errorCode = pipe.errorCode();
        return fail(result, pipe.failure());
    }
    if (reader.state() != TarState::End)
        return fail(result, L"The payload is incomplete (the tar archive has no end marker).");
    return true;
}

}  // namespace

UnpackResult UnpackTarXz(const std::wstring& payloadPath, const std::wstring& stagingFolder,
                         const ProgressCallback& progress) {
    UnpackResult result;
    FileHandle file(CreateFileW(longPath(payloadPath).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) {
        DWORD error = GetLastError();
        result.errorCode = error;
        result.message = formatText(L"Could not open %ls: %ls", payloadPath.c_str(),
                                    windowsErrorText(error).c_str());
        return result;
    }
    {
        std::unique_ptr<TarSink> sink = makeDiskSink(stagingFolder, result);
        TarReader reader(*sink);
        XzDecodePipe pipe(file.get(), payloadPath);
        if (!pipe.start()) {
            result.errorCode = pipe.errorCode();
            fail(result, pipe.failure());
        } else {
            result.ok = runPipe(pipe, reader, fileSize(payloadPath), progress, result);
        }
        // The pipe stops and ends its thread here, before the file closes.
    }
    file.reset();
    if (!result.ok)
        logError(L"Unpack failed after %llu files: %ls",
                 static_cast<unsigned long long>(result.files), result.message.c_str());
    return result;
}

}  // namespace qv
