// The setup program with its long waits shortened, for the tests that make
// it wait for a running app, another setup run or a locked file.
#include "setup/core/entry.h"
#include "setup/core/timings.h"
#include "setup/dispatch/mode_dispatch.h"
#include "setup/texts/language.h"

#include <windows.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    qv::Timings& t = qv::timings();
    t.waitPidMs = 3000;
    t.appWaitSilentMs = 3000;
    t.appWaitWindowMs = 1000;
    t.appWaitExtendMs = 500;
    t.helperQuietMs = 1500;
    t.pollMs = 100;
    t.moveAttempts = 3;
    t.movePauseMs = 50;
    t.runLockWaitMs = 3000;
    t.uninstallWaitPidMs = 5000;
    t.removePauseMs = 100;
    t.keepWaitingPauseMs = 200;
    qv::allowPseudoLanguage();
    return qv::runSetupEntry(instance, qv::runSetupMode);
}
