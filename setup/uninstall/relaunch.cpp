#include "relaunch.h"

#include "foundation/command_line.h"
#include "foundation/files.h"
#include "foundation/handles.h"
#include "foundation/log.h"
#include "foundation/paths.h"
#include "foundation/system_facts.h"
#include "foundation/text.h"

#include <cwctype>
#include <vector>

namespace qv {
namespace {

constexpr const wchar_t* copyPrefix = L"QuorvelAI-Uninstall-";
constexpr const wchar_t* copySuffix = L".exe";

// The module path may come in 8.3 form when the program was started that
// way; the temporary folder is always in its long form.
std::wstring longNameOf(const std::wstring& path) {
    std::vector<wchar_t> buffer(1024);
    DWORD length = GetLongPathNameW(path.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0 || length >= buffer.size()) return fullPath(path);
    return fullPath(std::wstring(buffer.data(), length));
}

bool startProcess(const std::wstring& program, std::wstring commandLine, DWORD flags,
                  const std::wstring& folder, DWORD* processId = nullptr) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, flags,
                        nullptr, folder.c_str(), &startup, &process))
        return false;
    KernelHandle processHandle(process.hProcess);
    KernelHandle threadHandle(process.hThread);
    if (processId) *processId = process.dwProcessId;
    return true;
}

}  // namespace

std::wstring tempCopyName(DWORD processId) {
    return formatText(L"%ls%lu%ls", copyPrefix, static_cast<unsigned long>(processId), copySuffix);
}

bool isTempCopyName(const std::wstring& name) {
    const std::wstring prefix = copyPrefix;
    const std::wstring suffix = copySuffix;
    if (name.size() <= prefix.size() + suffix.size()) return false;
    if (!equalsIgnoreCase(name.substr(0, prefix.size()), prefix) ||
        !equalsIgnoreCase(name.substr(name.size() - suffix.size()), suffix))
        return false;
    for (size_t i = prefix.size(); i < name.size() - suffix.size(); ++i)
        if (!std::iswdigit(name[i])) return false;
    return true;
}

bool runsAsTempCopy() {
    std::wstring program = longNameOf(modulePath());
    return isTempCopyName(fileNamePart(program)) &&
           equalsIgnoreCase(parentFolder(program), tempFolder());
}

std::wstring tempCopyCommandLine(const std::wstring& copyPath, const SetupOptions& options,
                                 const std::wstring& root, DWORD waiterId) {
    std::wstring line = quoteArgument(copyPath);
    line += L" --uninstall --uninstall-root ";
    line += quoteArgument(root);
    line += formatText(L" --wait-pid %lu", static_cast<unsigned long>(waiterId));
    if (options.silent) line += L" --silent";
    if (options.removeData) line += L" --remove-data";
    if (options.confirmed) line += L" --confirmed";
    return line;
}

std::wstring selfDeleteCommandLine(const std::wstring& commandProcessor,
                                   const std::wstring& program) {
    // The command processor expands %NAME% even inside double quotes, and
    // !NAME! when delayed expansion is on: such a path could name another file.
    if (program.find_first_of(L"%!") != std::wstring::npos) return {};
    // Double quotes always, not only for spaces: & ( ) ^ in a user's folder
    // name would otherwise split the line into further commands.
    return L"\"" + commandProcessor + L"\" /c ping -n 3 127.0.0.1 >nul & del /f /q \"" + program +
           L"\"";
}

// From the system folder itself: with SystemRoot unset, a relative
// "System32\cmd.exe" would be looked up in the current folder, which is the
// temporary folder.
std::wstring commandProcessorPath() {
    wchar_t folder[MAX_PATH];
    UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return {};
    return joinPath(std::wstring(folder, length), L"cmd.exe");
}

bool relaunchFromTemp(const SetupOptions& options, const std::wstring& root) {
    std::wstring program = modulePath();
    DWORD self = GetCurrentProcessId();
    std::wstring temp = tempFolder();
    std::wstring copy = joinPath(temp, tempCopyName(self));

    if (!CopyFileW(longPath(program).c_str(), longPath(copy).c_str(), FALSE)) {
        DWORD error = GetLastError();
        logError(L"Could not copy the uninstaller to %ls: %ls", copy.c_str(),
                 windowsErrorText(error).c_str());
        return false;
    }
    removeZoneIdentifier(copy);

    DWORD copyId = 0;
    if (!startProcess(copy, tempCopyCommandLine(copy, options, root, self), 0, temp, &copyId)) {
        DWORD error = GetLastError();
        logError(L"Could not start %ls: %ls", copy.c_str(), windowsErrorText(error).c_str());
        return false;
    }
    AllowSetForegroundWindow(copyId);
    logInfo(L"Started %ls to uninstall %ls", copy.c_str(), root.c_str());
    return true;
}

void removeTempCopy() {
    std::wstring program = modulePath();
    std::wstring temp = tempFolder();
    if (!isUnderFolder(longNameOf(program), temp)) return;

    std::wstring commandProcessor = commandProcessorPath();
    if (commandProcessor.empty()) return;
    std::wstring line = selfDeleteCommandLine(commandProcessor, program);
    if (line.empty()) {
        logWarn(L"Not deleting %ls: the command processor would misread its path", program.c_str());
        return;
    }
    // A failure to start leaves the copy behind, which costs only disk space.
    startProcess(commandProcessor, line, CREATE_NO_WINDOW, temp);
}

}  // namespace qv
