#include "entry.h"

#include "options.h"

#include "foundation/command_line.h"
#include "foundation/log.h"
#include "foundation/paths.h"
#include "foundation/system_facts.h"

#include "setup/texts/texts.h"

#include <objbase.h>

namespace qv {
namespace {

constexpr int exitBadCommandLine = 3;
constexpr int exitFailure = 1;

void showError(const Texts& texts, const std::wstring& text) {
    MessageBoxW(nullptr, text.c_str(), texts.get(TX_WINDOW_TITLE).c_str(), MB_OK | MB_ICONERROR);
}

// The language of the window and the message boxes; options.language
// becomes its tag, so that the window speaks it too.
Texts chooseUserLanguage(SetupOptions& options) {
    Language requested = Language::English;
    if (!options.language.empty() && !languageForTag(options.language, requested))
        logWarn(L"Language %ls is not available", options.language.c_str());
    Language language = chooseLanguage(options.language, userPreferredUiLanguages());
    options.language = languageInfo(language).tag;
    logInfo(L"Language: %ls", options.language.c_str());
    return Texts::load(language);
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
    bool parsed = parseCommandLine(splitCommandLine(commandLine), options, error);
    Texts texts = chooseUserLanguage(options);
    if (!parsed) {
        logError(L"%ls", error.c_str());
        // The usage lines name options, so they stay as they are.
        std::wstring shown = texts.translate(
            error, {TX_BOX_UNKNOWN_ARGUMENT, TX_BOX_NEEDS_VALUE, TX_BOX_NOT_A_VERSION});
        if (!options.silent) showError(texts, shown + L"\n\n" + usageText());
        return exitBadCommandLine;
    }

    if (options.uninstall == 0 && !isWindows10OrNewer()) {
        logError(L"QV-OS-1: Windows 10 or newer is needed");
        if (!options.silent) showError(texts, texts.get(TX_BOX_OLD_WINDOWS));
        return exitFailure;
    }

    if (equalsIgnoreCase(fileNamePart(program), L"Uninstall.exe")) options.uninstall = 1;

    int result = runMode(options, instance);
    logInfo(L"Exit code %d", result);
    CoUninitialize();
    return result;
}

}  // namespace qv
