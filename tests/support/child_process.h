// Starting the programs under test as child processes.
#pragma once

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

// Runs program with the raw command line (which must start with the program
// name as the child should see it) and waits for it.
ChildResult runChild(const std::wstring& program, const std::wstring& commandLine,
                     const ChildOptions& options = {});

// The environment with TEMP and TMP pointing at folder, so that a child's
// logs and downloads stay inside one test's folder.
ChildOptions withTempFolder(const std::wstring& folder, DWORD timeoutMs = 60000);

}  // namespace qv::test
