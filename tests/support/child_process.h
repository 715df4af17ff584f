// Starting the programs under test as child processes.
#pragma once

#include "foundation/handles.h"

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

namespace qv::test {

struct ChildResult {
    bool started = false;
    bool finished = false;  // false: still running after the timeout (then ended)
    DWORD exitCode = 0;
    DWORD elapsedMs = 0;
};

struct ChildOptions {
    // Extra or replaced environment variables, such as TEMP and TMP.
    std::vector<std::pair<std::wstring, std::wstring>> environment;
    std::wstring currentFolder;  // empty: the test's own
    DWORD timeoutMs = 60000;
};

// A child started without waiting for it.
struct RunningChild {
    KernelHandle process;  // empty when it did not start
    DWORD id = 0;
    ULONGLONG startTick = 0;
};

RunningChild startChild(const std::wstring& program, const std::wstring& commandLine,
                        const ChildOptions& options = {});
// Waits for the child; one still running after timeoutMs is ended.
ChildResult finishChild(RunningChild& child, DWORD timeoutMs);

// Runs program with the raw command line (which must start with the program
// name as the child should see it) and waits for it.
ChildResult runChild(const std::wstring& program, const std::wstring& commandLine,
                     const ChildOptions& options = {});

// The environment with TEMP and TMP pointing at folder, so that a child's
// logs and downloads stay inside one test's folder.
ChildOptions withTempFolder(const std::wstring& folder, DWORD timeoutMs = 60000);

}  // namespace qv::test
