// The record one unpack reports into: the disk sink fills the counts and its
// own failures, the unpack driver everything else.
#pragma once

#include <cstdint>
#include <string>

namespace qv {

struct UnpackResult {
    bool ok = false;         // the whole archive was unpacked
    bool cancelled = false;  // the user stopped the unpack
    // Windows error code of the failure; 0 when the failure was no Windows
    // error (damaged or incomplete data).
    uint32_t errorCode = 0;
    std::wstring message;      // the failure's text, empty while all is well
    std::wstring failingPath;  // the file or folder whose operation failed
    uint64_t files = 0;        // files completed
    uint64_t bytes = 0;        // bytes written
};

}  // namespace qv
