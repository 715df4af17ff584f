#include "running_app.h"

#include "install_layout.h"

#include "setup/core/progress.h"
#include "setup/core/setup_error.h"
#include "setup/core/timings.h"

#include "foundation/handles.h"
#include "foundation/log.h"
#include "foundation/paths.h"
#include "foundation/text.h"

#include <tlhelp32.h>

#include <algorithm>

namespace qv {
namespace {

constexpr const wchar_t* waitingText = L"Waiting for QuorvelAI to close\u2026";
// Rounds of ending helpers after the deadline before the wait gives up.
constexpr uint32_t helperRoundsPastDeadline = 3;

// The Win32 path of the process's program; empty when it cannot be read.
std::wstring imagePathOf(HANDLE process) {
    wchar_t buffer[1040];
    DWORD size = 1040;
    if (!QueryFullProcessImageNameW(process, 0, buffer, &size)) return {};
    return std::wstring(buffer, size);
}

struct WindowSearch {
    const std::vector<RunningProcess>* processes;
    bool found = false;
};

BOOL CALLBACK checkWindow(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<WindowSearch*>(parameter);
    if (!IsWindowVisible(window)) return TRUE;
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    for (const RunningProcess& process : *search->processes) {
        if (process.id == owner) {
            search->found = true;
            return FALSE;
        }
    }
    return TRUE;
}

class SystemProcessWatcher final : public ProcessWatcher {
public:
    std::vector<RunningProcess> list(const std::wstring& root) override {
        return listInstallProcesses(root);
    }
    bool anyVisible(const std::vector<RunningProcess>& processes) override {
        return anyUserVisible(processes);
    }
    bool end(const RunningProcess& process, const std::wstring& root) override {
        return endLeftoverHelper(process, root);
    }
};

SetupError stillRunning(const std::vector<RunningProcess>& processes, const std::wstring& root) {
    return SetupError(L"QV-RUN-1", L"QuorvelAI is still open. Close it and run the setup again.",
                      formatText(L"%zu process(es) under %ls, first: %ls", processes.size(),
                                 root.c_str(), processes.front().imagePath.c_str()),
                      true);
}

std::vector<RunningProcess> versionFolderProcesses(ProcessWatcher& watcher,
                                                   const std::wstring& root) {
    std::vector<RunningProcess> processes = watcher.list(root);
    processes.erase(std::remove_if(processes.begin(), processes.end(),
                                   [&](const RunningProcess& process) {
                                       return !runsFromVersionFolder(root, process);
                                   }),
                    processes.end());
    return processes;
}

// Ends every listed helper; true when all of them were ended.
bool endHelpers(ProcessWatcher& watcher, const std::vector<RunningProcess>& processes,
                const std::wstring& root) {
    bool allEnded = true;
    for (const RunningProcess& process : processes) {
        bool ended = watcher.end(process, root);
        logInfo(L"Ending leftover helper %lu %ls: %ls", static_cast<unsigned long>(process.id),
                process.imagePath.c_str(), ended ? L"ended" : L"could not end");
        allEnded = allEnded && ended;
    }
    return allEnded;
}

void waitForAppProcess(const SetupContext& context, ProcessWatcher& watcher) {
    if (context.waitPid == 0) return;
    if (context.progress) context.progress->reportStatus(StatusLine::WaitingForApp, waitingText);
    logInfo(L"Waiting for process %lu", static_cast<unsigned long>(context.waitPid));
    DWORD ms = timings().waitPidMs;
    if (!watcher.waitForExit(context.waitPid, ms))
        logWarn(L"Process %lu still running after %lu s",
                static_cast<unsigned long>(context.waitPid), static_cast<unsigned long>(ms / 1000));
}

}  // namespace

std::vector<RunningProcess> listInstallProcesses(const std::wstring& root) {
    std::vector<RunningProcess> processes;
    FileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return processes;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    DWORD self = GetCurrentProcessId();
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry)) {
        if (entry.th32ProcessID == 0 || entry.th32ProcessID == self) continue;
        KernelHandle process(
            OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
        if (!process) continue;
        std::wstring image = imagePathOf(process.get());
        if (!image.empty() && isUnderFolder(image, root))
            processes.push_back({entry.th32ProcessID, image});
    }
    return processes;
}

bool runsFromVersionFolder(const std::wstring& root, const RunningProcess& process) {
    std::wstring image = fullPath(process.imagePath);
    std::wstring folder = fullPath(root);
    if (folder.empty() || !isUnderFolder(image, folder)) return false;
    size_t start = folder.size();
    if (folder.back() != L'\\') ++start;  // the backslash after the root
    if (start >= image.size()) return false;
    std::wstring inside = image.substr(start);
    size_t slash = inside.find(L'\\');
    return slash != std::wstring::npos && isVersionFolderName(inside.substr(0, slash));
}

bool anyUserVisible(const std::vector<RunningProcess>& processes) {
    DWORD ownSession = 0;
    // Without our own session nothing can be told apart: count it as visible
    // rather than end a process that may belong to someone else.
    if (!ProcessIdToSessionId(GetCurrentProcessId(), &ownSession)) return !processes.empty();
    for (const RunningProcess& process : processes) {
        DWORD session = 0;
        if (!ProcessIdToSessionId(process.id, &session) || session != ownSession) return true;
    }
    WindowSearch search{&processes};
    EnumWindows(checkWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

bool endLeftoverHelper(const RunningProcess& process, const std::wstring& root) {
    DWORD access = PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE;
    KernelHandle handle(OpenProcess(access, FALSE, process.id));
    if (!handle) return false;
    // The id may have been reused by an unrelated program since the listing.
    std::wstring image = imagePathOf(handle.get());
    if (image.empty() || !isUnderFolder(image, root)) return false;
    if (!TerminateProcess(handle.get(), 1)) return false;
    WaitForSingleObject(handle.get(), 3000);
    return true;
}

bool waitForProcessExit(uint32_t processId, DWORD ms) {
    KernelHandle handle(OpenProcess(SYNCHRONIZE, FALSE, processId));
    if (!handle) return true;
    return WaitForSingleObject(handle.get(), ms) == WAIT_OBJECT_0;
}

ProcessWatcher& systemProcessWatcher() {
    static SystemProcessWatcher watcher;
    return watcher;
}

void waitForAppToClose(const SetupContext& context, const std::wstring& root) {
    waitForAppToClose(context, root, systemProcessWatcher());
}

void waitForAppToClose(const SetupContext& context, const std::wstring& root,
                       ProcessWatcher& watcher) {
    const Timings& wait = timings();
    waitForAppProcess(context, watcher);

    ULONGLONG deadline =
        GetTickCount64() + (context.silent ? wait.appWaitSilentMs : wait.appWaitWindowMs);
    bool announced = false;
    ULONGLONG quietSince = 0;
    // A helper that could not be ended once the deadline had passed would
    // otherwise be timed and tried again for ever; so would helpers that
    // something outside the version folders keeps starting again, which are
    // given a few more rounds after the deadline.
    bool endRefused = false;
    uint32_t roundsPastDeadline = 0;
    for (;;) {
        checkCancelled(context);
        std::vector<RunningProcess> processes = versionFolderProcesses(watcher, root);
        if (processes.empty()) return;
        if (!announced) {
            for (const RunningProcess& process : processes)
                logInfo(L"Still running: %lu %ls", static_cast<unsigned long>(process.id),
                        process.imagePath.c_str());
            if (context.progress) context.progress->reportStatus(StatusLine::WaitingForApp, waitingText);
            announced = true;
        }

        ULONGLONG now = GetTickCount64();
        if (watcher.anyVisible(processes)) {
            quietSince = 0;
        } else if (endRefused) {
            throw stillRunning(processes, root);
        } else if (quietSince == 0) {
            quietSince = now;
        } else if (now - quietSince >= wait.helperQuietMs) {
            // Windowless helpers alone for a while are leftovers nobody can close.
            bool ended = endHelpers(watcher, processes, root);
            if (now >= deadline && (!ended || ++roundsPastDeadline >= helperRoundsPastDeadline))
                endRefused = true;
            quietSince = 0;
            Sleep(wait.pollMs);
            continue;
        }
        if (now < deadline || quietSince != 0) {
            Sleep(wait.pollMs);
            continue;
        }

        if (context.silent || !context.progress) throw stillRunning(processes, root);
        checkCancelled(context);
        if (!context.progress->keepWaitingForApp()) {
            // The window answers no when the user cancelled: that is a cancel.
            checkCancelled(context);
            throw stillRunning(processes, root);
        }
        deadline = GetTickCount64() + wait.appWaitExtendMs;
    }
}

}  // namespace qv
