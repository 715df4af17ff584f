#include "entry.h"

#include "options.h"

#include "foundation/command_line.h"
#include "foundation/log.h"
#include "foundation/paths.h"
#include "foundation/system_facts.h"

#include <objbase.h>

namespace qv {
namespace {

constexpr int exitBadCommandLine = 3;
constexpr int exitFailure = 1;

void showError(const std::wstring& text) {
    MessageBoxW(nullptr, text.c_str(), L"QuorvelAI Setup", MB_OK | MB_ICONERROR);
}

}  // namespace

int runSetupEntry(HINSTANCE instance, ModeRunner runMode) {
    // The result is ignored: a thread that already has COM keeps working.
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

    openLog(joinPath(tempFolder(), L"QuorvelAI-Setup.log"));
    const wchar_t* commandLine = GetCommandLineW();
    std::wstring program = modulePath();
    logInfo(L"---- QuorvelAI Setup %ls on %ls", setupVersion, describeOs().c_str());
    logInfo(L"Command line: %ls", commandLine ? commandLine : L"");
    logInfo(L"Running from: %ls", program.c_str());

    SetupOptions options;
    std::wstring error;
    if (!parseCommandLine(splitCommandLine(commandLine), options, error)) {
        logError(L"%ls", error.c_str());
        if (!options.silent) showError(error + L"\n\n" + usageText());
        return exitBadCommandLine;
    }

    if (options.uninstall == 0 && !isWindows10OrNewer()) {
        logError(L"QV-OS-1: Windows 10 or newer is needed");
        if (!options.silent) showError(L"QuorvelAI needs Windows 10 or newer.");
        return exitFailure;
    }

    if (equalsIgnoreCase(fileNamePart(program), L"Uninstall.exe")) options.uninstall = 1;

    int result = runMode(options, instance);
    logInfo(L"Exit code %d", result);
    CoUninitialize();
    return result;
}

}  // namespace qv
