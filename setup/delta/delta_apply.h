// Building a version folder from the installed version and a delta: every
// file of the new tree is copied from the installed file of the same path,
// decoded from a patch against it, or decoded whole, and proved by its size
// and SHA-256 before the next one begins.
#pragma once

#include "setup/core/progress.h"

#include <windows.h>

#include <cstdint>
#include <string>

namespace qv {

struct DeltaApplyResult {
    bool ok = false;
    bool cancelled = false;
    // The Windows error of a failed write, 0 for anything else.
    DWORD errorCode = 0;
    // What went wrong, for the log; empty after success.
    std::wstring message;
    uint64_t files = 0;  // files built
    uint64_t bytes = 0;  // their bytes
};

struct DeltaInputs {
    std::wstring deltaPath;
    std::wstring baseFolder;     // the installed version's folder, only read
    std::wstring stagingFolder;  // exists and is empty
    // The versions the delta must lead between; both empty: any.
    std::wstring baseVersion;
    std::wstring version;
};

// Builds inputs.stagingFolder. Reports (bytes built, bytes of the new tree)
// to progress and stops (cancelled) when it returns false. On failure the
// staging folder holds a part of the tree; the caller removes it. The base
// folder is never written.
DeltaApplyResult applyDelta(const DeltaInputs& inputs, const ProgressCallback& progress);

}  // namespace qv
