#include "mode_dispatch.h"

#include "foundation/log.h"

namespace qv {

// Placeholder until the install engine lands: this build parses and checks
// its command line but cannot install or uninstall anything yet.
int runSetupMode(const SetupOptions& options, HINSTANCE) {
    logError(L"This build of the setup cannot install or uninstall yet (mode %ls)",
             options.uninstall ? L"uninstall" : L"install");
    return 1;
}

}  // namespace qv
