#include "launcher/launcher.h"

#include <windows.h>

#include <cstdlib>

// The C++ runtime's default terminate handler prints the type of an uncaught
// exception with a demangler that is about a seventh of this program's size.
// A GUI program has nowhere to print it, so the launcher's handler only ends
// the process, as the default one does after printing.
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    return qv::runLauncher();
}
