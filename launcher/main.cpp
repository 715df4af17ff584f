#include "launcher/launcher.h"

#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    return qv::runLauncher();
}
