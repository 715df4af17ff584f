// Finding copies of the application that run from the install and waiting
// for them to close.
#pragma once

#include "setup/core/setup_context.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace qv {

struct RunningProcess {
    uint32_t id = 0;
    std::wstring imagePath;
};

// Processes (other than this one) whose program lies inside root.
std::vector<RunningProcess> listInstallProcesses(const std::wstring& root);
// The process runs from a version folder of root (app-<version>[.tmp|.old]).
bool runsFromVersionFolder(const std::wstring& root, const RunningProcess& process);
// A listed process runs in another session or owns a visible window.
bool anyUserVisible(const std::vector<RunningProcess>& processes);
// Ends a windowless helper that still runs from inside root.
bool endLeftoverHelper(const RunningProcess& process, const std::wstring& root);
// True when the process is gone (or cannot be opened) within ms.
bool waitForProcessExit(uint32_t processId, DWORD ms);

// What the wait uses to see and end processes; tests replace it.
struct ProcessWatcher {
    virtual ~ProcessWatcher() = default;
    virtual std::vector<RunningProcess> list(const std::wstring& root) = 0;
    virtual bool anyVisible(const std::vector<RunningProcess>& processes) = 0;
    virtual bool end(const RunningProcess& process, const std::wstring& root) = 0;
    virtual bool waitForExit(uint32_t processId, DWORD ms) {
        return waitForProcessExit(processId, ms);
    }
};
ProcessWatcher& systemProcessWatcher();

// Returns once nothing runs from a version folder of root; all waits come
// from timings(). Throws SetupError QV-RUN-1 (a visible copy stays open, or
// a helper refuses to be ended after the deadline) or QV-CANCEL (the user
// cancelled, also while asked to close the application).
void waitForAppToClose(const SetupContext& context, const std::wstring& root);
void waitForAppToClose(const SetupContext& context, const std::wstring& root,
                       ProcessWatcher& watcher);

}  // namespace qv
