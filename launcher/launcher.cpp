#include "launcher.h"

#include "foundation/app_versions.h"
#include "foundation/command_line.h"
#include "foundation/handles.h"
#include "foundation/log.h"
#include "foundation/paths.h"
#include "foundation/system_facts.h"

#include <windows.h>

namespace qv {
namespace {

constexpr const wchar_t* programName = L"QuorvelAI.exe";
// A version that fails within this time is taken to be broken.
constexpr DWORD fallbackWindowMs = 8000;

enum class StartOutcome { NotStarted, Settled, FailedEarly };

// Loading user32 is a noticeable share of a start under Wine, and the
// launcher needs it only once the app is on its way, or to show a failure.
template <typename Function>
Function user32Function(const char* name) {
    HMODULE user32 = LoadLibraryW(L"user32.dll");
    FARPROC found = user32 ? GetProcAddress(user32, name) : nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void*>(found));
}

void showError(const wchar_t* text) {
    using MessageBoxFunction = int(WINAPI*)(HWND, LPCWSTR, LPCWSTR, UINT);
    auto messageBox = user32Function<MessageBoxFunction>("MessageBoxW");
    if (messageBox) messageBox(nullptr, text, L"QuorvelAI", MB_OK | MB_ICONERROR);
}

void allowForeground(DWORD processId) {
    using AllowFunction = BOOL(WINAPI*)(DWORD);
    auto allow = user32Function<AllowFunction>("AllowSetForegroundWindow");
    if (allow) allow(processId);
}

// A start that works writes nothing, so the log is only opened for a line.
void openLauncherLog() {
    static bool opened = false;
    if (opened) return;
    openLog(joinPath(tempFolder(), L"QuorvelAI-Launcher.log"));
    opened = true;
}

// Starts one version; waits for it only when an older version could still
// take over.
StartOutcome startVersion(const std::wstring& root, const std::wstring& folderName,
                          const std::wstring& arguments, bool isLast) {
    std::wstring folder = joinPath(root, folderName);
    std::wstring program = joinPath(folder, programName);
    std::wstring commandLine = quoteArgument(program);
    if (!arguments.empty()) commandLine += L" " + arguments;

    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        folder.c_str(), &startup, &process)) {
        DWORD error = GetLastError();
        openLauncherLog();
        logError(L"Could not start %ls: %ls (%lu)", program.c_str(),
                 windowsErrorText(error).c_str(), error);
        return StartOutcome::NotStarted;
    }
    allowForeground(process.dwProcessId);
    KernelHandle thread(process.hThread);
    KernelHandle child(process.hProcess);
    if (isLast) return StartOutcome::Settled;

    if (WaitForSingleObject(child.get(), fallbackWindowMs) != WAIT_OBJECT_0)
        return StartOutcome::Settled;
    DWORD exitCode = 0;
    if (!GetExitCodeProcess(child.get(), &exitCode)) exitCode = 0;
    // Code 0: the app ended on its own, for example after handing over to a
    // copy that was already running.
    if (exitCode == 0) return StartOutcome::Settled;
    openLauncherLog();
    logError(L"%ls exited with 0x%08lx right after starting; trying the previous version",
             program.c_str(), exitCode);
    return StartOutcome::FailedEarly;
}

// The version folders to try, newest first. Only when there is none, the
// set-aside copies: a repair ended half-way (or one whose switch failed
// twice) leaves the installed version only as app-<version>.old, and the
// app must still start until the next setup run puts it back.
std::vector<std::wstring> candidateFolders(const std::wstring& root) {
    std::vector<std::wstring> folders;
    for (const std::wstring& version : findAppVersions(root, programName))
        folders.push_back(L"app-" + version);
    if (!folders.empty()) return folders;
    for (const std::wstring& version : findSetAsideVersions(root, programName))
        folders.push_back(L"app-" + version + L".old");
    return folders;
}

}  // namespace

std::wstring launcherArgumentText(const wchar_t* commandLine) {
    if (!commandLine) return {};
    const wchar_t* at = commandLine;
    if (*at == L'"') {
        const wchar_t* closing = wcschr(at + 1, L'"');
        if (!closing) return {};
        at = closing + 1;
    } else {
        while (*at && *at != L' ' && *at != L'\t') ++at;
    }
    while (*at == L' ' || *at == L'\t') ++at;
    return at;
}

int runLauncher() {
    std::wstring root = parentFolder(modulePath());
    std::wstring arguments = launcherArgumentText(GetCommandLineW());

    std::vector<std::wstring> folders = candidateFolders(root);
    if (folders.empty()) {
        openLauncherLog();
        logError(L"No app-* folder with %ls under %ls", programName, root.c_str());
        showError(L"QuorvelAI is not installed correctly: its program files are missing.\n\n"
                  L"Download QuorvelAI again and run the setup to repair it.");
        return 1;
    }
    for (size_t i = 0; i < folders.size(); ++i) {
        bool isLast = i + 1 == folders.size();
        if (startVersion(root, folders[i], arguments, isLast) == StartOutcome::Settled) return 0;
    }
    showError(L"QuorvelAI could not start.\n\nDownload QuorvelAI again and run the setup to repair it.");
    return 1;
}

}  // namespace qv
