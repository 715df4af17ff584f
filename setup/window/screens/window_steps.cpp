// The window with the real steps. Kept apart from the window's other files
// so that a program driving the window with stand-in steps does not link
// the install engine.
#include "setup/window/screens/setup_window.h"
#include "setup/window/screens/window_steps.h"

#include "setup/install/folder_check.h"
#include "setup/install/install.h"
#include "setup/release/release_discovery.h"
#include "setup/uninstall/uninstall.h"

namespace qv {

WindowSteps defaultWindowSteps() {
    WindowSteps steps;
    steps.discoverRelease = [](SetupContext& context) { DiscoverRelease(context); };
    steps.checkFolder = [](const SetupContext& context, const std::wstring& folder,
                           std::wstring* code) { return checkInstallFolder(context, folder, code); };
    steps.findFallback = [](const SetupContext& context) { return findFallbackFolder(context); };
    steps.shortProblem = [](const std::wstring& code, const std::wstring& text) {
        return shortFolderProblem(code, text);
    };
    steps.install = [](SetupContext& context, const std::wstring& folder) {
        runInstall(context, folder);
    };
    steps.uninstall = [](SetupContext& context, const std::wstring& root) {
        runUninstall(context, root);
    };
    return steps;
}

SetupWindow::SetupWindow(const SetupOptions& options, SetupMode mode, const std::wstring& folder,
                         bool askFirst)
    : SetupWindow(options, mode, folder, askFirst, defaultWindowSteps()) {}

}  // namespace qv
