#include "unpack_tar_xz.h"

#include "disk_sink.h"
#include "tar_reader.h"

#include "foundation/files.h"
#include "foundation/handles.h"
#include "foundation/log.h"
#include "foundation/paths.h"
#include "foundation/system_facts.h"
#include "foundation/text.h"

#include <windows.h>

#include <vector>

extern "C" {
#include "7zCrc.h"
#include "Alloc.h"
#include "Sha256.h"
#include "Xz.h"
#include "XzCrc64.h"
}

namespace qv {
namespace {

constexpr DWORD inputBufferSize = 1048576;
constexpr size_t outputBufferSize = 4194304;

// The decoder's CRC and SHA-256 tables are global; a function-local static
// makes their set-up happen exactly once, even with several threads.
void prepareDecoderTables() {
    static const bool ready = [] {
        CrcGenerateTable();
        Crc64GenerateTable();
        Sha256Prepare();
        return true;
    }();
    (void)ready;
}

// One unpack: the open payload, the decoder and the reader on the sink.
class XzTarRun {
public:
    XzTarRun(const std::wstring& payloadPath, FileHandle file, TarReader& reader,
             UnpackResult& result)
        : payloadPath_(payloadPath), file_(std::move(file)), reader_(reader), result_(result),
          input_(inputBufferSize), output_(outputBufferSize) {}

    // Runs the loop; true when the whole payload was unpacked.
    bool run(const ProgressCallback& progress);

private:
    bool fillInput();
    bool finishData(CXzUnpacker& decoder);
    bool fail(std::wstring message) {
        if (result_.message.empty()) result_.message = std::move(message);
        return false;
    }

    const std::wstring& payloadPath_;
    FileHandle file_;
    TarReader& reader_;
    UnpackResult& result_;
    std::vector<uint8_t> input_;
    std::vector<uint8_t> output_;
    size_t inputPos_ = 0;
    size_t inputFill_ = 0;
    bool endOfFile_ = false;
};

bool XzTarRun::fillInput() {
    if (inputPos_ < inputFill_ || endOfFile_) return true;
    DWORD read = 0;
    if (!ReadFile(file_.get(), input_.data(), inputBufferSize, &read, nullptr)) {
        DWORD error = GetLastError();
        result_.errorCode = error;
        return fail(formatText(L"Could not read %ls: %ls", payloadPath_.c_str(),
                               windowsErrorText(error).c_str()));
    }
    inputPos_ = 0;
    inputFill_ = read;
    if (read == 0) endOfFile_ = true;
    return true;
}

bool XzTarRun::run(const ProgressCallback& progress) {
    uint64_t total = fileSize(payloadPath_);
    uint64_t consumed = 0;
    CXzUnpacker decoder;
    XzUnpacker_Construct(&decoder, &g_Alloc);
    ScopeGuard freeDecoder([&decoder] { XzUnpacker_Free(&decoder); });
    XzUnpacker_Init(&decoder);
    for (;;) {
        if (!fillInput()) return false;
        SizeT outLength = output_.size();
        SizeT inLength = inputFill_ - inputPos_;
        ECoderStatus status;
        SRes code = XzUnpacker_Code(&decoder, output_.data(), &outLength,
                                    input_.data() + inputPos_, &inLength, endOfFile_ ? 1 : 0,
                                    CODER_FINISH_ANY, &status);
        if (code != SZ_OK)
            return fail(formatText(L"The payload is damaged (xz error %d).", static_cast<int>(code)));
        inputPos_ += inLength;
        consumed += inLength;
        if (outLength > 0 && !reader_.Feed(output_.data(), outLength)) return fail(reader_.error());
        if (progress && !progress(consumed, total)) {
            result_.cancelled = true;
            return fail(L"Cancelled");
        }
        if (inLength == 0 && outLength == 0) {
            if (endOfFile_) return finishData(decoder);
            // Input left, room for output, and still no step: the decoder
            // would be called with the same arguments forever.
            if (inputPos_ < inputFill_)
                return fail(formatText(L"The payload is damaged (xz error %d).", SZ_ERROR_DATA));
        }
    }
}

// All input is used up and the decoder has nothing more to give: the
// payload is whole only when both the xz stream and the tar archive ended.
bool XzTarRun::finishData(CXzUnpacker& decoder) {
    file_.reset();
    if (!XzUnpacker_IsStreamWasFinished(&decoder))
        return fail(L"The payload is incomplete (the xz stream ends early).");
    if (reader_.state() != TarState::End)
        return fail(L"The payload is incomplete (the tar archive has no end marker).");
    return true;
}

}  // namespace

UnpackResult UnpackTarXz(const std::wstring& payloadPath, const std::wstring& stagingFolder,
                         const ProgressCallback& progress) {
    prepareDecoderTables();
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
        XzTarRun run(payloadPath, std::move(file), reader, result);
        result.ok = run.run(progress);
    }
    if (!result.ok)
        logError(L"Unpack failed after %llu files: %ls",
                 static_cast<unsigned long long>(result.files), result.message.c_str());
    return result;
}

}  // namespace qv
