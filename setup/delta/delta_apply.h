// Building a version folder from the installed version and a delta: every
// file of the new tree is copied from the installed file of the same path,
// decoded from a patch against it, or decoded whole, and proved by its size
// and SHA-256 before the next one begins.
//
// Files are read with ReadFile and written with WriteFile, so a failing
// disk, a share that goes away or a full disk ends the build with a
// message, never the process. The setup's own memory stays bounded: the
// list, 1 MiB pieces for reading, decoding and writing, and while a frame
// is decoded at most maxDecodeMemory (delta_list.h) for a patch's
// installed file and the decoder's window.
#pragma once

#include "setup/core/progress.h"
#include "setup/unpack/disk_sink.h"

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

namespace qv {

struct DeltaApplyResult {
    bool ok = false;
    bool cancelled = false;
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
    // The release's unpacked size, which the list's files must add up to;
    // none: not checked.
    std::optional<uint64_t> unpackedSize;
};

// The file calls whose failures a test cannot bring about on every volume
// (a read error of a vanished share or a bad sector, a failed write); the
// program keeps the defaults.
struct DeltaFileCalls {
    BOOL(WINAPI* readFile)(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED) = ReadFile;
    DiskSinkCalls sink;
};

// Builds inputs.stagingFolder. Reports (bytes built, bytes of the new tree)
// to progress and stops (cancelled) when it returns false. On failure the
// staging folder holds a part of the tree; the caller removes it. The base
// folder is never written.
DeltaApplyResult applyDelta(const DeltaInputs& inputs, const ProgressCallback& progress,
                            const DeltaFileCalls& calls = DeltaFileCalls());

}  // namespace qv
