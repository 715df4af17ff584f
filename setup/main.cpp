#include "setup/core/entry.h"
#include "setup/dispatch/mode_dispatch.h"

#include <windows.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    return qv::runSetupEntry(instance, qv::runSetupMode);
}
