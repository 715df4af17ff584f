#include "setup/install/running_app.h"

#include "setup/core/progress.h"
#include "setup/core/setup_error.h"
#include "setup/core/timings.h"

#include "foundation/handles.h"
#include "foundation/paths.h"

#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <climits>

namespace qv {
namespace {

const std::wstring root = L"C:\\R";
const std::wstring waiting = L"Waiting for QuorvelAI to close\u2026";

// Catches the root's own programs held against the install, a name rule
// without the staging and set-aside forms, and a prefix match on siblings.
TEST(RunsFromVersionFolder, OnlyVersionFoldersCount) {
    const std::pair<std::wstring, bool> cases[] = {
        {L"C:\\R\\app-1.2.3\\a.exe", true},         {L"C:\\R\\app-1.2.3.4\\a.exe", true},
        {L"C:\\R\\app-1.2.3.tmp\\a.exe", true},     {L"C:\\R\\app-1.2.3.old\\b\\a.exe", true},
        {L"C:\\R\\APP-1.2.3.OLD\\a.exe", true},     {L"c:/r/app-1.2.3/a.exe", true},
        {L"C:\\R\\QuorvelAI.exe", false},           {L"C:\\R\\app-1.2\\a.exe", false},
        {L"C:\\R\\app-1.2.3.4.5\\a.exe", false},    {L"C:\\R\\app-1.2.3.bak\\a.exe", false},
        {L"C:\\R\\packages\\app-1.2.3\\a.exe", false}, {L"C:\\R2\\app-1.2.3\\a.exe", false},
        {L"C:\\app-1.2.3\\a.exe", false},
    };
    for (const auto& [image, expected] : cases)
        EXPECT_EQ(runsFromVersionFolder(root, {7, image}), expected) << image;
    EXPECT_TRUE(runsFromVersionFolder(L"C:\\", {7, L"C:\\app-1.0.0\\a.exe"}));
}

struct FakeProcess {
    std::wstring path;  // inside the root
    bool visible;
    bool endable;
    bool respawns = false;  // ended, but something starts it again at once
};

struct FakeProgress final : Progress {
    std::vector<std::wstring> statuses;
    int keepTrue = 0;  // "keep waiting" answers before the first "stop"
    bool cancelWhenRefusing = false;
    int cancelAtCheck = 0;  // isCancelled is true from this call on (0: never)
    int checks = 0, keepCalls = 0;
    std::vector<ULONGLONG> keepTicks;
    bool cancelled = false;

    void setStatus(const std::wstring& text) override { statuses.push_back(text); }
    void setProgress(double) override {}
    void setDetail(const std::wstring&) override {}
    bool isCancelled() override { return cancelled = cancelled || ++checks == cancelAtCheck; }
    bool keepWaitingForApp() override {
        keepTicks.push_back(GetTickCount64());
        if (++keepCalls <= keepTrue) return true;
        cancelled = cancelled || cancelWhenRefusing;
        return false;
    }
};

class FakeWatcher final : public ProcessWatcher {
public:
    // After this many listings nothing runs any more: a wait that would never
    // end returns instead, and fails its expectations.
    static constexpr int valve = 1500;

    FakeWatcher(std::vector<FakeProcess> processes, const FakeProgress& progress, int closeAtKeep)
        : processes(std::move(processes)), progress(progress), closeAtKeep(closeAtKeep),
          gone(this->processes.size(), false) {}

    std::vector<RunningProcess> list(const std::wstring& folder) override {
        if (listCalls++ == 0) firstListTick = GetTickCount64();
        std::vector<RunningProcess> result;
        if (listCalls > valve || (closeAtKeep != 0 && progress.keepCalls >= closeAtKeep))
            return result;
        for (uint32_t i = 0; i < processes.size(); ++i)
            if (!gone[i]) result.push_back({i, joinPath(folder, processes[i].path)});
        return result;
    }
    bool anyVisible(const std::vector<RunningProcess>& list) override {
        for (const RunningProcess& process : list)
            if (processes[process.id].visible) return true;
        return false;
    }
    bool end(const RunningProcess& process, const std::wstring&) override {
        if (endCalls++ == 0) firstEndTick = GetTickCount64();
        const FakeProcess& fake = processes[process.id];
        gone[process.id] = fake.endable && !fake.respawns;
        return fake.endable;
    }
    bool waitForExit(uint32_t processId, DWORD ms) override {
        waitedFor = {processId, ms};
        return false;
    }
    std::vector<FakeProcess> processes;
    const FakeProgress& progress;
    int closeAtKeep;
    std::vector<bool> gone;
    int listCalls = 0, endCalls = 0;
    ULONGLONG firstListTick = 0, firstEndTick = 0;
    std::pair<uint32_t, DWORD> waitedFor;
};

struct WaitCase {
    const char* name;
    std::vector<FakeProcess> processes;
    bool silent;
    DWORD deadlineMs;  // the silent or the window deadline
    int keepTrue, cancelAtCheck, closeAtKeep;
    bool cancelWhenRefusing;
    const wchar_t* code;  // nullptr: the wait returns
    bool endTried;
};

const DWORD forever = 600000;
const FakeProcess app{L"app-1.2.3\\QuorvelAI.exe", true, true};
const FakeProcess helper{L"app-1.2.3\\helper.exe", false, true};
const FakeProcess stubborn{L"app-1.2.3\\helper.exe", false, false};
const FakeProcess respawning{L"app-1.2.3\\helper.exe", false, true, true};

// Each row says the fault it catches.
const WaitCase waitCases[] = {
    // Waiting when nothing, or only the root's own programs, run.
    {"nothing runs", {}, true, forever, 0, 0, 0, false, nullptr, false},
    {"root programs", {{L"QuorvelAI.exe", true, true}, {L"Uninstall.exe", false, true}}, true,
     forever, 0, 0, 0, false, nullptr, false},
    // Helpers left until the deadline instead of the quiet time.
    {"helper", {helper}, true, forever, 0, 0, 0, false, nullptr, true},
    {"staged helpers",
     {{L"app-1.2.3.tmp\\a.exe", false, true}, {L"app-1.2.3.old\\b.exe", false, true}}, false,
     forever, 0, 0, 0, false, nullptr, true},
    // A helper ended beside a visible copy, or the silent deadline ignored.
    {"app and helper", {app, helper}, true, 150, 0, 0, 0, false, L"QV-RUN-1", false},
    // A helper that refuses to be ended keeping the wait going for ever.
    {"stubborn, silent", {stubborn}, true, 150, 0, 0, 0, false, L"QV-RUN-1", true},
    {"stubborn, window", {stubborn}, false, 60, 0, 0, 0, false, L"QV-RUN-1", true},
    // "Keep waiting" not extending the wait, "stop" ignored.
    {"keep waiting", {app}, false, 30, INT_MAX, 0, 2, false, nullptr, false},
    {"stop waiting", {app}, false, 30, 0, 0, 0, false, L"QV-RUN-1", false},
    // A cancel while the window asks, or while waiting, taken for a running app.
    {"cancel when asked", {app}, false, 30, 1, 0, 0, true, L"QV-CANCEL", false},
    {"cancel, silent", {app}, true, forever, 0, 5, 0, false, L"QV-CANCEL", false},
    {"cancel, helpers timed", {helper}, false, forever, 0, 2, 0, false, L"QV-CANCEL", false},
    // Helpers being timed when the deadline passes taken for a copy left open.
    {"helper past the deadline, silent", {helper}, true, 1, 0, 0, 0, false, nullptr, true},
    {"helper past the deadline, window", {helper}, false, 1, 0, 0, 0, false, nullptr, true},
    // Helpers started again as fast as they are ended keeping the wait going for ever.
    {"respawning, silent", {respawning}, true, 150, 0, 0, 0, false, L"QV-RUN-1", true},
    {"respawning, window", {respawning}, false, 60, 0, 0, 0, false, L"QV-RUN-1", true},
};

class WaitForAppToClose : public testing::Test {
protected:
    void SetUp() override {
        saved_ = timings();
        timings().pollMs = 2;
        timings().helperQuietMs = 40;
        timings().appWaitExtendMs = 20;
        timings().waitPidMs = 77;
    }
    void TearDown() override { timings() = saved_; }

private:
    Timings saved_;
};

TEST_F(WaitForAppToClose, Scenarios) {
    for (const WaitCase& c : waitCases) {
        SCOPED_TRACE(c.name);
        (c.silent ? timings().appWaitSilentMs : timings().appWaitWindowMs) = c.deadlineMs;
        FakeProgress progress;
        progress.keepTrue = c.keepTrue;
        progress.cancelWhenRefusing = c.cancelWhenRefusing;
        progress.cancelAtCheck = c.cancelAtCheck;
        FakeWatcher watcher(c.processes, progress, c.closeAtKeep);
        SetupOptions options;
        options.silent = c.silent;
        SetupContext context(options, &progress, nullptr);
        SetupError error;
        ULONGLONG start = GetTickCount64();
        try {
            waitForAppToClose(context, root, watcher);
        } catch (const SetupError& thrown) {
            error = thrown;
        }
        EXPECT_EQ(error.code, c.code ? c.code : L"");
        EXPECT_LT(watcher.listCalls, FakeWatcher::valve);
        EXPECT_EQ(watcher.endCalls > 0, c.endTried);
        if (c.endTried) {
            EXPECT_GE(watcher.firstEndTick - watcher.firstListTick, 40u);
        }
        // Announced once, and only when something runs from a version folder.
        size_t statuses = c.processes.empty() || c.processes[0].path[0] != L'a' ? 0 : 1;
        EXPECT_EQ(progress.statuses, std::vector<std::wstring>(statuses, waiting));
        if (c.closeAtKeep != 0) {
            EXPECT_EQ(progress.keepCalls, c.closeAtKeep);
        }
        // Each "keep waiting" buys the extension before the window asks again.
        for (size_t i = 1; i < progress.keepTicks.size(); ++i)
            EXPECT_GE(progress.keepTicks[i] - progress.keepTicks[i - 1], timings().appWaitExtendMs);
        if (error.code == L"QV-RUN-1") {
            EXPECT_GE(GetTickCount64() - start, c.deadlineMs);  // not before the deadline
            EXPECT_TRUE(error.retryable);
            EXPECT_EQ(error.detail, std::to_wstring(c.processes.size()) + L" process(es) under " +
                                        root + L", first: " + root + L"\\" + c.processes[0].path);
        }
    }
}

// Catches the --wait-pid process not waited for, or for another time.
TEST_F(WaitForAppToClose, WaitsForTheStartingProcessFirst) {
    FakeProgress progress;
    FakeWatcher watcher({}, progress, 0);
    SetupOptions options;
    options.waitPid = 4242;
    waitForAppToClose(SetupContext(options, &progress, nullptr), root, watcher);
    EXPECT_EQ(watcher.waitedFor, (std::pair<uint32_t, DWORD>{4242, 77}));
    EXPECT_EQ(progress.statuses, std::vector<std::wstring>{waiting});
}

// Catches the snapshot walk missing a process of the root, an end that
// ignores the root, a wait that does not see the exit, and the system
// watcher taking a windowless helper for a visible copy.
TEST_F(WaitForAppToClose, EndsARealWindowlessHelper) {
    timings().helperQuietMs = 200;
    timings().pollMs = 50;
    timings().appWaitSilentMs = 20000;
    test::TempFolder install, elsewhere;
    std::wstring program = install / L"app-1.0.0\\QuorvelAI.exe";
    test::makeFolders(install / L"app-1.0.0");
    std::wstring demo = test::binFolder() + L"\\qv-demo-app.exe";
    ASSERT_TRUE(CopyFileW(demo.c_str(), program.c_str(), FALSE));
    std::wstring commandLine = L"\"" + program + L"\" --demo-helper";  // never opens a window
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    ASSERT_TRUE(CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                               nullptr, nullptr, &startup, &info));
    KernelHandle process(info.hProcess), thread(info.hThread);
    ScopeGuard endChild([&] {
        TerminateProcess(process.get(), 9);
        WaitForSingleObject(process.get(), 5000);
    });

    std::vector<RunningProcess> found;
    for (int attempt = 0; attempt < 100 && found.empty(); ++attempt, Sleep(50))
        for (const RunningProcess& listed : listInstallProcesses(install.path()))
            if (listed.id == info.dwProcessId) found.push_back(listed);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_TRUE(equalsIgnoreCase(fullPath(found[0].imagePath), fullPath(program)));
    EXPECT_FALSE(anyUserVisible(found));
    EXPECT_FALSE(waitForProcessExit(info.dwProcessId, 50));
    EXPECT_FALSE(endLeftoverHelper(found[0], elsewhere.path()));

    SilentProgress silent;
    SetupOptions options;
    options.silent = true;
    EXPECT_NO_THROW(waitForAppToClose(SetupContext(options, &silent, nullptr), install.path()));
    EXPECT_TRUE(waitForProcessExit(info.dwProcessId, 5000));
    DWORD exitCode = 0;
    GetExitCodeProcess(process.get(), &exitCode);
    EXPECT_EQ(exitCode, 1u);
}

}  // namespace
}  // namespace qv
