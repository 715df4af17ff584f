#include "setup/core/entry.h"

#include <windows.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    return qv::runSetupEntry(instance);
}
