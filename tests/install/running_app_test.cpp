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

const std::wstring waitingText = L"Waiting for QuorvelAI to close\u2026";
const std::wstring fakeRoot = L"C:\\Fake\\QuorvelAI";

// Catches the root's own programs held against the install, a name rule
// without the staging and set-aside forms, and a prefix match on siblings.
TEST(RunsFromVersionFolder, OnlyVersionFoldersCount) {
    const std::pair<std::wstring, bool> cases[] = {
        {L"C:\\Fake\\QuorvelAI\\app-1.2.3\\QuorvelAI.exe", true},
        {L"C:\\Fake\\QuorvelAI\\app-1.2.3.4\\QuorvelAI.exe", true},
        {L"C:\\Fake\\QuorvelAI\\app-1.2.3.tmp\\QuorvelAI.exe", true},
        {L"C:\\Fake\\QuorvelAI\\app-1.2.3.old\\bin\\helper.exe", true},
        {L"C:\\Fake\\QuorvelAI\\APP-1.2.3.OLD\\QuorvelAI.exe", true},
        {L"c:/fake/quorvelai/app-1.2.3/QuorvelAI.exe", true},
        {L"C:\\Fake\\QuorvelAI\\QuorvelAI.exe", false},
        {L"C:\\Fake\\QuorvelAI\\Uninstall.exe", false},
        {L"C:\\Fake\\QuorvelAI\\app-1.2\\QuorvelAI.exe", false},
        {L"C:\\Fake\\QuorvelAI\\app-1.2.3.4.5\\QuorvelAI.exe", false},
        {L"C:\\Fake\\QuorvelAI\\app-1.2.3.bak\\QuorvelAI.exe", false},
        {L"C:\\Fake\\QuorvelAI\\packages\\app-1.2.3\\Update.exe", false},
        {L"C:\\Fake\\QuorvelAI2\\app-1.2.3\\QuorvelAI.exe", false},
        {L"C:\\Other\\app-1.2.3\\QuorvelAI.exe", false},
    };
    for (const auto& [image, expected] : cases)
        EXPECT_EQ(runsFromVersionFolder(fakeRoot, {7, image}), expected) << image;
    // A root given with a trailing backslash, and a drive root.
    EXPECT_TRUE(runsFromVersionFolder(fakeRoot + L"\\", {7, fakeRoot + L"\\app-1.0.0\\a.exe"}));
    EXPECT_TRUE(runsFromVersionFolder(L"C:\\", {7, L"C:\\app-1.0.0\\a.exe"}));
    EXPECT_FALSE(runsFromVersionFolder(L"C:\\", {7, L"C:\\QuorvelAI.exe"}));
}

struct FakeProcess {
    std::wstring path;  // inside the root
    bool visible = false;
    bool endable = true;
};

// What the fake window answers and when the user cancels.
struct FakeProgress final : Progress {
    std::vector<std::wstring> statuses;
    int keepTrue = 0;            // true answers before the first false one
    bool cancelWhenRefusing = false;
    int cancelAtCheck = 0;       // isCancelled is true from this call on (0: never)
    int checks = 0;
    int keepCalls = 0;
    bool cancelled = false;

    void setStatus(const std::wstring& text) override { statuses.push_back(text); }
    void setProgress(double) override {}
    void setDetail(const std::wstring&) override {}
    bool isCancelled() override {
        ++checks;
        if (cancelAtCheck != 0 && checks >= cancelAtCheck) cancelled = true;
        return cancelled;
    }
    bool keepWaitingForApp() override {
        ++keepCalls;
        if (keepCalls <= keepTrue) return true;
        if (cancelWhenRefusing) cancelled = true;
        return false;
    }
};

class FakeWatcher final : public ProcessWatcher {
public:
    // After this many listings nothing is reported any more, so that a wait
    // that would never end returns instead and fails its expectations.
    static constexpr int valve = 1500;

    FakeWatcher(std::vector<FakeProcess> processes, const FakeProgress& progress,
                int closeAfterKeeps)
        : processes_(std::move(processes)), progress_(progress), closeAfterKeeps_(closeAfterKeeps) {
        gone_.assign(processes_.size(), false);
    }

    std::vector<RunningProcess> list(const std::wstring& root) override {
        if (listCalls++ == 0) firstListTick = GetTickCount64();
        std::vector<RunningProcess> result;
        if (listCalls > valve) return result;
        if (closeAfterKeeps_ != 0 && progress_.keepCalls >= closeAfterKeeps_) return result;
        for (size_t i = 0; i < processes_.size(); ++i)
            if (!gone_[i]) result.push_back({idOf(i), joinPath(root, processes_[i].path)});
        return result;
    }
    bool anyVisible(const std::vector<RunningProcess>& processes) override {
        for (const RunningProcess& process : processes)
            if (processes_[indexOf(process)].visible) return true;
        return false;
    }
    bool end(const RunningProcess& process, const std::wstring&) override {
        if (endCalls++ == 0) firstEndTick = GetTickCount64();
        size_t index = indexOf(process);
        if (!processes_[index].endable) return false;
        gone_[index] = true;
        ++ended;
        return true;
    }
    bool waitForExit(uint32_t processId, DWORD ms) override {
        waitedFor.push_back({processId, ms});
        return false;
    }

    int listCalls = 0;
    int endCalls = 0;
    int ended = 0;
    ULONGLONG firstListTick = 0;
    ULONGLONG firstEndTick = 0;
    std::vector<std::pair<uint32_t, DWORD>> waitedFor;

private:
    static uint32_t idOf(size_t index) { return static_cast<uint32_t>(100 + index); }
    static size_t indexOf(const RunningProcess& process) { return process.id - 100; }

    std::vector<FakeProcess> processes_;
    std::vector<bool> gone_;
    const FakeProgress& progress_;
    int closeAfterKeeps_;
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

struct WaitCase {
    const char* name;
    std::vector<FakeProcess> processes;
    bool silent;
    DWORD deadlineMs;            // the silent or the window deadline
    int keepTrue = 0;
    bool cancelWhenRefusing = false;
    int cancelAtCheck = 0;
    int closeAfterKeeps = 0;
    const wchar_t* code = nullptr;  // nullptr: the wait returns
    int ended = 0;
    bool endTried = false;
    size_t statuses = 1;
};

const DWORD forever = 600000;
const FakeProcess visibleApp{L"app-1.2.3\\QuorvelAI.exe", true, true};
const FakeProcess helper{L"app-1.2.3\\helper.exe", false, true};
const FakeProcess stubbornHelper{L"app-1.2.3\\helper.exe", false, false};

// Each row names the fault it catches.
const WaitCase waitCases[] = {
    // Waiting (or announcing) when nothing runs.
    {"nothing runs", {}, true, forever, 0, false, 0, 0, nullptr, 0, false, 0},
    // The launcher or uninstaller in the root holding the install up.
    {"root programs only",
     {{L"QuorvelAI.exe", true, true}, {L"Uninstall.exe", false, true}},
     true, forever, 0, false, 0, 0, nullptr, 0, false, 0},
    // Helpers left until the 60-second deadline instead of the quiet time.
    {"helper ended after quiet time", {helper}, true, forever, 0, false, 0, 0, nullptr, 1, true},
    // Staging and set-aside folders not waited for, or only one helper ended.
    {"helpers in staging and set-aside folders",
     {{L"app-1.2.3.tmp\\a.exe", false, true}, {L"app-1.2.3.old\\b.exe", false, true}},
     false, forever, 0, false, 0, 0, nullptr, 2, true},
    // A helper ended while a visible copy runs, or the silent deadline ignored.
    {"visible copy and helper", {visibleApp, helper}, true, 150, 0, false, 0, 0, L"QV-RUN-1", 0,
     false},
    // A helper that refuses to be ended keeping a silent run waiting for ever.
    {"stubborn helper, silent", {stubbornHelper}, true, 150, 0, false, 0, 0, L"QV-RUN-1", 0, true},
    {"stubborn helper, window", {stubbornHelper}, false, 60, 0, false, 0, 0, L"QV-RUN-1", 0, true},
    // The window's "keep waiting" answer not extending the wait.
    {"window keeps waiting until closed", {visibleApp}, false, 30, INT_MAX, false, 0, 2, nullptr, 0,
     false},
    // The window's "stop" answer ignored.
    {"window stops waiting", {visibleApp}, false, 30, 0, false, 0, 0, L"QV-RUN-1", 0, false},
    // A cancel while the window asks reported as the app still running.
    {"cancel while asked to close", {visibleApp}, false, 30, 1, true, 0, 0, L"QV-CANCEL", 0,
     false},
    // No cancel check inside the loop.
    {"cancel during silent wait", {visibleApp}, true, forever, 0, false, 5, 0, L"QV-CANCEL", 0,
     false},
    {"cancel while helpers are timed", {helper}, false, forever, 0, false, 2, 0, L"QV-CANCEL", 0,
     false},
};

TEST_F(WaitForAppToClose, Scenarios) {
    for (const WaitCase& c : waitCases) {
        SCOPED_TRACE(c.name);
        (c.silent ? timings().appWaitSilentMs : timings().appWaitWindowMs) = c.deadlineMs;
        FakeProgress progress;
        progress.keepTrue = c.keepTrue;
        progress.cancelWhenRefusing = c.cancelWhenRefusing;
        progress.cancelAtCheck = c.cancelAtCheck;
        FakeWatcher watcher(c.processes, progress, c.closeAfterKeeps);
        SetupOptions options;
        options.silent = c.silent;
        SetupContext context(options, &progress, nullptr);

        std::wstring code;
        SetupError error;
        try {
            waitForAppToClose(context, fakeRoot, watcher);
        } catch (const SetupError& thrown) {
            error = thrown;
            code = thrown.code;
        }
        EXPECT_EQ(code, c.code ? c.code : L"");
        EXPECT_LT(watcher.listCalls, FakeWatcher::valve);
        EXPECT_EQ(watcher.ended, c.ended);
        EXPECT_EQ(watcher.endCalls > 0, c.endTried);
        if (c.endTried) {
            EXPECT_GE(watcher.firstEndTick - watcher.firstListTick, timings().helperQuietMs);
        }
        EXPECT_EQ(progress.statuses, std::vector<std::wstring>(c.statuses, waitingText));
        if (c.closeAfterKeeps != 0) {
            EXPECT_EQ(progress.keepCalls, c.closeAfterKeeps);
        }
        if (code == L"QV-RUN-1") {
            EXPECT_TRUE(error.retryable);
            EXPECT_EQ(error.message,
                      L"QuorvelAI is still open. Close it and run the setup again.");
            EXPECT_EQ(error.detail, std::to_wstring(c.processes.size()) + L" process(es) under " +
                                        fakeRoot + L", first: " +
                                        joinPath(fakeRoot, c.processes.front().path));
        }
    }
}

// Catches the --wait-pid process not waited for, or waited for with another
// time than the configured one.
TEST_F(WaitForAppToClose, WaitsForTheStartingProcessFirst) {
    FakeProgress progress;
    FakeWatcher watcher({}, progress, 0);
    SetupOptions options;
    options.silent = true;
    options.waitPid = 4242;
    SetupContext context(options, &progress, nullptr);
    waitForAppToClose(context, fakeRoot, watcher);
    ASSERT_EQ(watcher.waitedFor.size(), 1u);
    EXPECT_EQ(watcher.waitedFor[0].first, 4242u);
    EXPECT_EQ(watcher.waitedFor[0].second, 77u);
    EXPECT_EQ(progress.statuses, std::vector<std::wstring>{waitingText});
}

// A copy of the demo application started from root\app-1.0.0 as a
// windowless helper; ended by handle when the test is over.
class RealHelper {
public:
    explicit RealHelper(const test::TempFolder& root)
        : program_(root / L"app-1.0.0\\QuorvelAI.exe") {
        test::makeFolders(root / L"app-1.0.0");
        std::wstring demo = joinPath(test::binFolder(), L"qv-demo-app.exe");
        if (!CopyFileW(demo.c_str(), program_.c_str(), FALSE)) return;
        std::wstring commandLine = L"\"" + program_ + L"\" --demo-helper";
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info = {};
        if (!CreateProcessW(program_.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                            nullptr, nullptr, &startup, &info))
            return;
        process_.reset(info.hProcess);
        KernelHandle thread(info.hThread);
        id_ = info.dwProcessId;
    }
    ~RealHelper() {
        if (process_ && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) {
            TerminateProcess(process_.get(), 9);
            WaitForSingleObject(process_.get(), 5000);
        }
    }
    uint32_t id() const { return id_; }
    const std::wstring& program() const { return program_; }
    bool running() const {
        return process_ && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT;
    }
    DWORD exitCode() const {
        DWORD code = 0;
        GetExitCodeProcess(process_.get(), &code);
        return code;
    }

private:
    std::wstring program_;
    KernelHandle process_;
    uint32_t id_ = 0;
};

const RunningProcess* findProcess(const std::vector<RunningProcess>& list, uint32_t id) {
    for (const RunningProcess& process : list)
        if (process.id == id) return &process;
    return nullptr;
}

// Catches the snapshot walk missing a process of the root or its path, an
// end that ignores the root, and a wait that does not see the exit.
TEST(RunningAppProcesses, FindEndAndWaitForARealProcess) {
    test::TempFolder root;
    test::TempFolder elsewhere;
    RealHelper helper(root);
    ASSERT_TRUE(helper.running());

    const RunningProcess* found = nullptr;
    std::vector<RunningProcess> list;
    for (int attempt = 0; attempt < 100 && !found; ++attempt, Sleep(50)) {
        list = listInstallProcesses(root.path());
        found = findProcess(list, helper.id());
    }
    ASSERT_NE(found, nullptr);
    EXPECT_TRUE(equalsIgnoreCase(fullPath(found->imagePath), fullPath(helper.program())));
    EXPECT_TRUE(runsFromVersionFolder(root.path(), *found));
    EXPECT_EQ(findProcess(listInstallProcesses(elsewhere.path()), helper.id()), nullptr);
    EXPECT_FALSE(anyUserVisible({*found}));

    EXPECT_FALSE(waitForProcessExit(helper.id(), 50));
    EXPECT_FALSE(endLeftoverHelper(*found, elsewhere.path()));
    EXPECT_TRUE(helper.running());
    EXPECT_TRUE(endLeftoverHelper(*found, root.path()));
    EXPECT_TRUE(waitForProcessExit(helper.id(), 5000));
    EXPECT_FALSE(helper.running());
    EXPECT_EQ(helper.exitCode(), 1u);
    EXPECT_EQ(findProcess(listInstallProcesses(root.path()), helper.id()), nullptr);
}

// Catches the system watcher taking a windowless helper for a visible copy
// (the silent wait would fail instead of ending it).
TEST_F(WaitForAppToClose, EndsARealWindowlessHelper) {
    timings().helperQuietMs = 200;
    timings().pollMs = 50;
    timings().appWaitSilentMs = 20000;
    test::TempFolder root;
    RealHelper helper(root);
    ASSERT_TRUE(helper.running());
    for (int attempt = 0; attempt < 100; ++attempt, Sleep(50))
        if (findProcess(listInstallProcesses(root.path()), helper.id())) break;
    SilentProgress progress;
    SetupOptions options;
    options.silent = true;
    SetupContext context(options, &progress, nullptr);
    EXPECT_NO_THROW(waitForAppToClose(context, root.path()));
    EXPECT_FALSE(helper.running());
    EXPECT_EQ(helper.exitCode(), 1u);
}

}  // namespace
}  // namespace qv
