// One setup run at a time per user: a named mutex held for a whole install
// or uninstall.
#pragma once

#include "foundation/handles.h"

namespace qv {

struct SetupContext;

class SetupRunLock {
public:
    // Waits up to timings().runLockWaitMs for another run to finish. Throws
    // SetupError QV-RUN-2 when it does not, QV-CANCEL when the user cancels.
    explicit SetupRunLock(const SetupContext& context);
    ~SetupRunLock();
    SetupRunLock(const SetupRunLock&) = delete;
    SetupRunLock& operator=(const SetupRunLock&) = delete;

private:
    KernelHandle mutex_;
    bool owned_ = false;
};

}  // namespace qv
