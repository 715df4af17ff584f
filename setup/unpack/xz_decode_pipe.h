// Decompresses an XZ file on a thread of its own and hands the output over in
// two alternating buffers, so that decompressing one piece overlaps writing
// the files of the previous one. The data held at once stays within 1 MiB of
// compressed input and 4 MiB of decompressed output (two halves of 2 MiB),
// plus the decoder's dictionary.
#pragma once

#include "foundation/handles.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace qv {

class XzDecodePipe {
public:
    // file (not owned) must stay open until the pipe is destroyed.
    XzDecodePipe(HANDLE file, const std::wstring& payloadPath);
    // Stops the decoding thread and waits for it.
    ~XzDecodePipe();
    XzDecodePipe(const XzDecodePipe&) = delete;
    XzDecodePipe& operator=(const XzDecodePipe&) = delete;

    // Starts the decoding thread; false (with failure() and errorCode()
    // set) when Windows cannot start it.
    bool start();
    // Waits for the next decoded piece: true with its bytes (length may be
    // 0 when the decoder only took input) and the compressed bytes consumed
    // so far; false once all data is through or decoding failed.
    bool next(const uint8_t*& bytes, size_t& length, uint64_t& consumed);
    // Hands the piece of the last next() back for decoding into.
    void release();
    // Asks the decoding thread to end early (the reader failed, the user
    // cancelled).
    void stop();

    // After next() returned false: empty when the XZ data ended properly,
    // else the failure's text; errorCode() is the Windows error of a failed
    // read, 0 for damaged or incomplete data.
    const std::wstring& failure() const { return failure_; }
    uint32_t errorCode() const { return errorCode_; }

private:
    static DWORD WINAPI threadMain(void* self);
    void decode();
    bool fillInput();
    int waitForFreeSlot();
    void publish(int slot, size_t length, uint64_t consumed);
    void finish(uint32_t errorCode, std::wstring failure);

    HANDLE file_;
    const std::wstring& payloadPath_;
    KernelHandle thread_;
    std::vector<uint8_t> input_;
    size_t inputPos_ = 0;
    size_t inputFill_ = 0;
    bool endOfFile_ = false;

    // Shared with the decoding thread, under lock_.
    SRWLOCK lock_ = SRWLOCK_INIT;
    CONDITION_VARIABLE changed_ = CONDITION_VARIABLE_INIT;
    std::vector<uint8_t> output_[2];
    size_t length_[2] = {0, 0};
    uint64_t consumed_[2] = {0, 0};
    bool full_[2] = {false, false};
    int produceSlot_ = 0;
    int consumeSlot_ = 0;
    bool done_ = false;
    bool stopping_ = false;
    uint32_t errorCode_ = 0;
    std::wstring failure_;
};

}  // namespace qv
