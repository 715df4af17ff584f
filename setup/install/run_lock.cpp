#include "run_lock.h"

#include "setup/core/setup_error.h"
#include "setup/core/timings.h"

#include "foundation/log.h"
#include "foundation/system_facts.h"
#include "foundation/text.h"

namespace qv {
namespace {

// Per user session: two users may each run their own setup.
constexpr const wchar_t* mutexName = L"Local\\QuorvelAI-Setup";

}  // namespace

SetupRunLock::SetupRunLock(const SetupContext& context) {
    mutex_.reset(CreateMutexW(nullptr, FALSE, mutexName));
    if (!mutex_) {
        // Without the mutex the run still goes on; it only loses the guard.
        logWarn(L"Could not create %ls: %ls", mutexName, windowsErrorText(GetLastError()).c_str());
        return;
    }
    const Timings& t = timings();
    ULONGLONG deadline = GetTickCount64() + t.runLockWaitMs;
    bool announced = false;
    for (;;) {
        DWORD slice = t.pollMs ? t.pollMs : 100;
        DWORD result = WaitForSingleObject(mutex_.get(), announced ? slice : 0);
        // An abandoned mutex belonged to a run that was ended; its leftovers
        // are the kind a run cleans up anyway.
        if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) {
            owned_ = true;
            return;
        }
        if (result != WAIT_TIMEOUT) {
            logWarn(L"Could not wait for %ls: %ls", mutexName, windowsErrorText(GetLastError()).c_str());
            return;
        }
        checkCancelled(context);
        if (!announced) {
            logInfo(L"Waiting for another QuorvelAI setup to finish");
            announced = true;
        }
        if (GetTickCount64() >= deadline)
            throw SetupError(L"QV-RUN-2",
                             L"Another QuorvelAI setup is running. Wait for it to finish and try again.",
                             formatText(L"%ls held for %lu ms", mutexName, t.runLockWaitMs), true);
    }
}

SetupRunLock::~SetupRunLock() {
    if (owned_) ReleaseMutex(mutex_.get());
}

}  // namespace qv
