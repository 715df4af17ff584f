// The worker thread that runs the setup steps for one window run.
#pragma once

#include "setup/window/screens/window_state.h"

namespace qv {

// The thread procedure; parameter is the WindowState. Ends by posting
// MsgFinished, or MsgFolderProblem when the folder needs the user.
DWORD WINAPI workerMain(void* parameter);

// The steps of one run, on the calling thread (the worker, or a test).
// Throws SetupError; returns false when it posted MsgFolderProblem instead
// of finishing.
bool runWorkerSteps(WindowState& state);

}  // namespace qv
