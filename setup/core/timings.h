// The waits and pauses of the setup steps, in one place so that tests can
// shorten them. The program itself never changes them.
#pragma once

#include <windows.h>

#include <cstdint>

namespace qv {

struct Timings {
    // Running-app wait.
    DWORD waitPidMs = 60000;         // for the --wait-pid process of an install
    DWORD appWaitSilentMs = 60000;   // a visible copy, silent run
    DWORD appWaitWindowMs = 5000;    // a visible copy, before the window asks
    DWORD appWaitExtendMs = 3000;    // each "keep waiting" answer of the window
    DWORD helperQuietMs = 10000;     // windowless helpers alone this long get ended
    DWORD pollMs = 500;
    // Renames that may meet a file briefly in use.
    uint32_t moveAttempts = 20;
    DWORD movePauseMs = 500;
    // Another setup run holding the install.
    DWORD runLockWaitMs = 60000;
    // Uninstall.
    DWORD uninstallWaitPidMs = 30000;
    uint32_t removeAttempts = 5;
    DWORD removePauseMs = 1000;
    // Window.
    DWORD keepWaitingPauseMs = 1000;
    DWORD doneCloseMs = 1600;
    DWORD workerJoinMs = 15000;
};

// The process-wide timings; tests may change them before a run starts.
Timings& timings();

}  // namespace qv
