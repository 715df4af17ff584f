#include "xz_decode_pipe.h"

#include "foundation/system_facts.h"
#include "foundation/text.h"

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
constexpr size_t outputHalfSize = 2097152;

// The decoder's CRC and SHA-256 tables are global; a function-local static
// makes their set-up happen exactly once, even with several threads. Without
// them every stream header fails its check and reads as "no archive".
void prepareDecoderTables() {
    static const bool ready = [] {
        CrcGenerateTable();
        Crc64GenerateTable();
        Sha256Prepare();
        return true;
    }();
    (void)ready;
}

}  // namespace

XzDecodePipe::XzDecodePipe(HANDLE file, const std::wstring& payloadPath)
    : file_(file), payloadPath_(payloadPath), input_(inputBufferSize) {
    prepareDecoderTables();
    output_[0].resize(outputHalfSize);
    output_[1].resize(outputHalfSize);
}

XzDecodePipe::~XzDecodePipe() {
    if (!thread_) return;
    stop();
    WaitForSingleObject(thread_.get(), INFINITE);
}

bool XzDecodePipe::start() {
    thread_.reset(CreateThread(nullptr, 0, &XzDecodePipe::threadMain, this, 0, nullptr));
    if (thread_) return true;
    DWORD error = GetLastError();
    errorCode_ = error;
    failure_ = L"Could not start decompressing: " + windowsErrorText(error);
    return false;
}

DWORD WINAPI XzDecodePipe::threadMain(void* self) {
    static_cast<XzDecodePipe*>(self)->decode();
    return 0;
}

bool XzDecodePipe::next(const uint8_t*& bytes, size_t& length, uint64_t& consumed) {
    ExclusiveLock hold(lock_);
    while (!full_[consumeSlot_] && !done_) SleepConditionVariableSRW(&changed_, &lock_, INFINITE, 0);
    // Pieces decoded before a failure still go out first, in order.
    if (!full_[consumeSlot_]) return false;
    bytes = output_[consumeSlot_].data();
    length = length_[consumeSlot_];
    consumed = consumed_[consumeSlot_];
    return true;
}

void XzDecodePipe::release() {
    ExclusiveLock hold(lock_);
    full_[consumeSlot_] = false;
    consumeSlot_ ^= 1;
    WakeAllConditionVariable(&changed_);
}

void XzDecodePipe::stop() {
    ExclusiveLock hold(lock_);
    stopping_ = true;
    WakeAllConditionVariable(&changed_);
}

int XzDecodePipe::waitForFreeSlot() {
    ExclusiveLock hold(lock_);
    while (full_[produceSlot_] && !stopping_) SleepConditionVariableSRW(&changed_, &lock_, INFINITE, 0);
    return stopping_ ? -1 : produceSlot_;
}

void XzDecodePipe::publish(int slot, size_t length, uint64_t consumed) {
    ExclusiveLock hold(lock_);
    length_[slot] = length;
    consumed_[slot] = consumed;
    full_[slot] = true;
    produceSlot_ ^= 1;
    WakeAllConditionVariable(&changed_);
}

void XzDecodePipe::finish(uint32_t errorCode, std::wstring failure) {
    ExclusiveLock hold(lock_);
    errorCode_ = errorCode;
    failure_ = std::move(failure);
    done_ = true;
    WakeAllConditionVariable(&changed_);
}

bool XzDecodePipe::fillInput() {
    if (inputPos_ < inputFill_ || endOfFile_) return true;
    DWORD read = 0;
    if (!ReadFile(file_, input_.data(), inputBufferSize, &read, nullptr)) {
        DWORD error = GetLastError();
        finish(error, formatText(L"Could not read %ls: %ls", payloadPath_.c_str(),
                                 windowsErrorText(error).c_str()));
        return false;
    }
    inputPos_ = 0;
    inputFill_ = read;
    if (read == 0) endOfFile_ = true;
    return true;
}

// The decoding loop: read when the input is used up, decode into the free
// half, hand it over. All data is through when, at the end of the file, the
// decoder takes no input and gives no output; then the stream must have
// ended properly.
void XzDecodePipe::decode() {
    CXzUnpacker decoder;
    XzUnpacker_Construct(&decoder, &g_Alloc);
    ScopeGuard freeDecoder([&decoder] { XzUnpacker_Free(&decoder); });
    XzUnpacker_Init(&decoder);
    uint64_t consumed = 0;
    for (;;) {
        int slot = waitForFreeSlot();
        if (slot < 0 || !fillInput()) return;
        SizeT outLength = outputHalfSize;
        SizeT inLength = inputFill_ - inputPos_;
        ECoderStatus status;
        SRes code = XzUnpacker_Code(&decoder, output_[slot].data(), &outLength,
                                    input_.data() + inputPos_, &inLength, endOfFile_ ? 1 : 0,
                                    CODER_FINISH_ANY, &status);
        if (code != SZ_OK)
            return finish(0, formatText(L"The payload is damaged (xz error %d).", static_cast<int>(code)));
        inputPos_ += inLength;
        consumed += inLength;
        if (inLength > 0 || outLength > 0) {
            publish(slot, outLength, consumed);
            continue;
        }
        if (endOfFile_) {
            if (!XzUnpacker_IsStreamWasFinished(&decoder))
                return finish(0, L"The payload is incomplete (the xz stream ends early).");
            return finish(0, L"");
        }
        // Input left, room for output, and still no step: the decoder would
        // be called with the same arguments forever.
        if (inputPos_ < inputFill_)
            return finish(0, formatText(L"The payload is damaged (xz error %d).", SZ_ERROR_DATA));
    }
}

}  // namespace qv
