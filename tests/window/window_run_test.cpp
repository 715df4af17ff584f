// Whole runs with stand-in steps on a real worker thread: the first screen,
// the folder fallback, cancel and retry, and the wait after the loop.
#include "window_fixture.h"

#include "setup/window/drawing/window_drawing.h"

#include "setup/core/timings.h"
#include "setup/release/http_client.h"
#include "tests/support/held_run_lock.h"

#include "foundation/text.h"

#include <gtest/gtest.h>

#include <thread>

namespace qv::test {
namespace {

struct StartCase {
    const char* what;
    SetupMode mode;
    bool askFirst;
    bool confirmed;
    Screen first;
    bool runs;
};

// Each row catches a wrong first screen or a run started too early.
const StartCase startCases[] = {
    {"fresh install asks", SetupMode::Install, true, false, Screen::Welcome, false},
    {"update runs at once", SetupMode::Install, false, false, Screen::Working, true},
    {"upgrade runs at once", SetupMode::Upgrade, false, false, Screen::Working, true},
    {"uninstall confirms", SetupMode::Uninstall, false, false, Screen::ConfirmUninstall, false},
    {"confirmed uninstall runs", SetupMode::Uninstall, false, true, Screen::Working, true},
};

TEST(WindowRun, FirstScreen) {
    for (const StartCase& c : startCases) {
        FakeSteps fake;
        fake.end = StepEnd::UntilReleased;
        SetupOptions options;
        options.confirmed = c.confirmed;
        WindowHarness h(fake, c.mode, c.askFirst, options);
        h.start();
        EXPECT_EQ(h.state().screen, c.first) << c.what;
        EXPECT_EQ(h.state().busy, c.runs) << c.what;
        if (c.runs) {
            EXPECT_EQ(WaitForSingleObject(fake.entered.get(), 5000), WAIT_OBJECT_0) << c.what;
        }
    }
}

struct FolderCase {
    const char* what;
    bool askFirst;
    SetupMode mode;
    bool dirGiven;
    const wchar_t* fallback;
    // Expected:
    bool fallbackAsked;
    Screen screen;
    const wchar_t* folder;  // the window's folder afterwards
    const wchar_t* note;
    const wchar_t* errorCode;  // on Failed
};

const wchar_t proposed[] = L"C:\\Proposed\\QuorvelAI";
const wchar_t spare[] = L"C:\\users\\me\\QuorvelAI";
const wchar_t problemText[] = L"That folder is where your Roblox projects are kept. Choose another folder.";
const wchar_t shortNote[] =
    L"[QV-DIR-4|That folder is where your Roblox projects are kept. Choose another folder.] Using "
    L"C:\\users\\me\\QuorvelAI instead.";

// A folder the user named is never replaced; only the proposed folder of a
// fresh install may fall back, with or without the welcome screen.
const FolderCase folderCases[] = {
    {"ask, fallback found", true, SetupMode::Install, false, spare, true, Screen::Welcome, spare, shortNote, L""},
    {"ask, no fallback", true, SetupMode::Install, false, L"", true, Screen::Welcome, proposed, problemText, L""},
    {"ask, --dir kept", true, SetupMode::Install, true, spare, false, Screen::Welcome, proposed, problemText, L""},
    {"update, fallback used", false, SetupMode::Install, false, spare, true, Screen::Done, spare, L"", L""},
    {"update, --dir fails", false, SetupMode::Install, true, spare, false, Screen::Failed, proposed, L"", L"QV-DIR-4"},
    {"upgrade never falls back", false, SetupMode::Upgrade, false, spare, false, Screen::Failed, proposed, L"", L"QV-DIR-4"},
    {"update, no fallback fails", false, SetupMode::Install, false, L"", true, Screen::Failed, proposed, L"", L"QV-DIR-4"},
};

TEST(WindowRun, FolderProblems) {
    timings().doneCloseMs = 60000;
    for (const FolderCase& c : folderCases) {
        FakeSteps fake;
        fake.problem = problemText;
        fake.problemCode = L"QV-DIR-4";
        fake.fallback = c.fallback;
        SetupOptions options;
        if (c.dirGiven) options.dir = proposed;
        WindowHarness h(fake, c.mode, c.askFirst, options, proposed);
        h.start();
        if (c.askFirst) h.send(WM_KEYDOWN, VK_RETURN);
        ASSERT_TRUE(h.waitIdle()) << c.what;
        EXPECT_EQ(fake.fallbackCalls > 0, c.fallbackAsked) << c.what;
        EXPECT_EQ(h.state().screen, c.screen) << c.what;
        EXPECT_EQ(h.state().folder, c.folder) << c.what;
        EXPECT_EQ(h.state().note, c.note) << c.what;
        if (c.screen == Screen::Done) {
            EXPECT_EQ(fake.installedFolder, c.folder) << c.what;
        }
        if (c.screen == Screen::Failed) {
            ASSERT_TRUE(h.state().error) << c.what;
            EXPECT_EQ(h.state().error->code, c.errorCode) << c.what;
            EXPECT_EQ(h.state().error->message, problemText) << c.what;
            EXPECT_EQ(h.state().error->detail, proposed) << c.what;
            EXPECT_TRUE(h.state().error->retryable) << c.what;
        }
    }
    timings().doneCloseMs = 1600;
}

// After a fallback the second "Install" goes ahead with it.
TEST(WindowRun, SecondInstallUsesTheFallback) {
    FakeSteps fake;
    fake.problem = problemText;
    fake.problemCode = L"QV-DIR-4";
    fake.fallback = spare;
    WindowHarness h(fake, SetupMode::Install, true);
    h.start();
    h.send(WM_KEYDOWN, VK_RETURN);
    ASSERT_TRUE(h.waitIdle());
    EXPECT_EQ(fake.installCalls, 0);
    h.send(WM_KEYDOWN, VK_RETURN);
    ASSERT_TRUE(h.waitIdle());
    EXPECT_EQ(fake.installCalls, 1);
    EXPECT_EQ(fake.installedFolder, spare);
    EXPECT_EQ(h.state().screen, Screen::Done);
}

// The client's cancel of one run must not end the next one: a cancelled
// fresh install can be installed again.
TEST(WindowRun, CancelThenInstallSucceeds) {
    FakeSteps fake;
    fake.end = StepEnd::UntilCancelled;
    WindowHarness h(fake, SetupMode::Install, true);
    h.start();
    h.send(WM_KEYDOWN, VK_RETURN);
    ASSERT_EQ(WaitForSingleObject(fake.entered.get(), 5000), WAIT_OBJECT_0);
    h.send(WM_KEYDOWN, VK_ESCAPE);
    EXPECT_TRUE(h.state().httpClient.cancelled());
    ASSERT_TRUE(h.waitIdle());
    ASSERT_EQ(h.state().screen, Screen::Welcome);
    fake.end = StepEnd::Succeed;
    h.send(WM_KEYDOWN, VK_RETURN);
    ASSERT_TRUE(h.waitIdle());
    EXPECT_EQ(h.state().screen, Screen::Done);
    EXPECT_EQ(fake.installCalls, 2);
}

// "Try again" reuses the release found by the first attempt.
TEST(WindowRun, TryAgainKeepsTheRelease) {
    FakeSteps fake;
    fake.end = StepEnd::Fail;
    fake.failure = makeError(L"QV-NET-5", true);
    WindowHarness h(fake, SetupMode::Upgrade, false);
    h.start();
    ASSERT_TRUE(h.waitIdle());
    ASSERT_EQ(h.state().screen, Screen::Failed);
    EXPECT_NE(h.state().report.find(L"Version: 1.2.3\r\n"), std::wstring::npos);
    fake.end = StepEnd::Succeed;
    h.send(WM_KEYDOWN, VK_RETURN);
    ASSERT_TRUE(h.waitIdle());
    EXPECT_EQ(h.state().screen, Screen::Done);
    EXPECT_EQ(fake.discoverCalls, 1);
    EXPECT_EQ(fake.installCalls, 2);
    // A new run drops the error of the last one.
    EXPECT_FALSE(h.state().error);
}

// The uninstall gets the root, and the data removal from the option or the
// check box.
TEST(WindowRun, UninstallCombinesOptionAndCheckBox) {
    const struct {
        bool option, ticked, expected;
    } cases[] = {{false, false, false}, {true, false, true}, {false, true, true}};
    for (const auto& c : cases) {
        FakeSteps fake;
        SetupOptions options;
        options.removeData = c.option;
        WindowHarness h(fake, SetupMode::Uninstall, false, options, L"C:\\Root");
        h.start();
        // The box starts unticked even with the option.
        EXPECT_FALSE(h.state().removeDataChecked);
        if (c.ticked) h.send(WM_KEYDOWN, VK_SPACE);
        h.send(WM_KEYDOWN, VK_RETURN);
        ASSERT_TRUE(h.waitIdle());
        EXPECT_EQ(h.state().screen, Screen::Removed);
        EXPECT_EQ(fake.uninstalledRoot, L"C:\\Root");
        EXPECT_EQ(fake.uninstallRemoveData, c.expected);
        // The window's own context keeps the option as given.
        EXPECT_EQ(h.state().context.removeData, c.option);
    }
}

// Exit codes of whole runs through run(): Done closes itself with 0, a
// closed confirmation gives 1.
TEST(WindowRun, ExitCodes) {
    timings().doneCloseMs = 50;
    {
        FakeSteps fake;
        SetupWindow window(SetupOptions(), SetupMode::Upgrade, L"C:\\Root", false, fake.steps());
        EXPECT_EQ(window.run(GetModuleHandleW(nullptr)), 0);
    }
    {
        FakeSteps fake;
        fake.end = StepEnd::Fail;
        fake.failure = makeError(L"QV-SIG-1", false);
        SetupWindow window(SetupOptions(), SetupMode::Upgrade, L"C:\\Root", false, fake.steps());
        HANDLE entered = fake.entered.get();
        WindowState* state = &window.state();
        // Alt+F4 on the failure screen, from another thread once it shows.
        std::thread closer([entered, state] {
            WaitForSingleObject(entered, 5000);
            for (int i = 0; i < 500 && state->screen != Screen::Failed; ++i) Sleep(10);
            PostMessageW(state->postTarget.load(), WM_CLOSE, 0, 0);
        });
        EXPECT_EQ(window.run(GetModuleHandleW(nullptr)), 1);
        closer.join();
    }
    timings().doneCloseMs = 1600;
}

// Destroys the window while its worker is stuck in the stand-in step: the
// state must not be freed under that worker, which then ends cleanly. When
// it was freed anyway, the worker is left stuck (with its steps) rather than
// let loose on freed memory.
void expectStateOutlivesTheWindow(std::unique_ptr<SetupWindow>& window,
                                  std::unique_ptr<FakeSteps>& fake) {
    WindowState* state = &window->state();
    HANDLE copy = nullptr;
    ASSERT_TRUE(state->worker) << "the stuck worker's handle was dropped";
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), state->worker.get(), GetCurrentProcess(), &copy,
                                0, FALSE, DUPLICATE_SAME_ACCESS));
    KernelHandle worker(copy);
    watchDeletion(state);
    window.reset();
    bool freed = watchedWasDeleted();
    watchDeletion(nullptr);
    EXPECT_FALSE(freed) << "the state was freed while its worker still ran";
    if (freed) {
        fake.release();
        return;
    }
    EXPECT_EQ(WaitForSingleObject(worker.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    // The late status goes nowhere; nothing crashes.
    SetEvent(fake->release.get());
    EXPECT_EQ(WaitForSingleObject(worker.get(), 5000), static_cast<DWORD>(WAIT_OBJECT_0));
}

// A worker stuck where a cancel cannot reach keeps neither the loop's end
// nor the process waiting beyond the join, and reports into memory that
// still exists when it finally ends.
TEST(WindowRun, BlockedWorkerDoesNotHoldTheEnd) {
    timings().workerJoinMs = 300;
    auto fake = std::make_unique<FakeSteps>();
    fake->end = StepEnd::IgnoreCancel;
    auto window = std::make_unique<SetupWindow>(SetupOptions(), SetupMode::Upgrade, L"C:\\Root",
                                                 false, fake->steps());
    WindowState* state = &window->state();
    HANDLE entered = fake->entered.get();
    std::thread closer([entered, state] {
        WaitForSingleObject(entered, 5000);
        // The window goes while the run is still busy.
        PostMessageW(state->postTarget.load(), WM_TIMER, DoneTimer, 0);
    });
    ULONGLONG started = GetTickCount64();
    EXPECT_EQ(window->run(GetModuleHandleW(nullptr)), 1);
    ULONGLONG took = GetTickCount64() - started;
    closer.join();
    EXPECT_LT(took, 5000u);
    timings().workerJoinMs = 15000;
    expectStateOutlivesTheWindow(window, fake);
}

// A previous worker that ends only after the next run has started must not
// decide for the stuck worker of that run: the state stays.
TEST(WindowRun, EarlierWorkerEndingLateLeavesTheStuckOnesState) {
    auto fake = std::make_unique<FakeSteps>();
    fake->end = StepEnd::UntilNextRun;
    auto window = std::make_unique<SetupWindow>(SetupOptions(), SetupMode::Upgrade, L"C:\\Root",
                                                 false, fake->steps());
    WindowState& state = window->state();
    state.instance = GetModuleHandleW(nullptr);
    ASSERT_TRUE(createWindow(state));
    showFirstScreen(state);
    ASSERT_EQ(WaitForSingleObject(fake->entered.get(), 5000), WAIT_OBJECT_0);
    HANDLE copy = nullptr;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), state.worker.get(), GetCurrentProcess(), &copy,
                                0, FALSE, DUPLICATE_SAME_ACCESS));
    KernelHandle first(copy);
    fake->end = StepEnd::IgnoreCancel;
    startRun(state);
    SetEvent(fake->nextRun.get());
    // The first worker ends now, after the second one began.
    ASSERT_EQ(WaitForSingleObject(first.get(), 5000), WAIT_OBJECT_0);
    expectStateOutlivesTheWindow(window, fake);
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    }
}

enum class RunFault { None, ThreadCannotStart, MessagesLost };

struct RunEndCase {
    const char* what;
    SetupMode mode;
    bool askFirst;
    bool folderProblem;
    RunFault fault;
    // Expected:
    int installs;
    Screen screen;
    const wchar_t* code;  // of the error on Failed
};

// Each row would fail on a run whose end the window never learns, or that
// it reports as a cancel; the first on a last message taken for lost while
// it still waits in the queue.
const RunEndCase runEndCases[] = {
    {"last message queued", SetupMode::Upgrade, false, false, RunFault::None, 1, Screen::Done, L""},
    {"thread cannot start", SetupMode::Upgrade, false, false, RunFault::ThreadCannotStart, 0, Screen::Failed, L"QV-WIN-1"},
    {"thread cannot start, fresh install", SetupMode::Install, true, false, RunFault::ThreadCannotStart, 0, Screen::Failed, L"QV-WIN-1"},
    {"last message lost", SetupMode::Upgrade, false, false, RunFault::MessagesLost, 1, Screen::Failed, L"QV-WIN-2"},
    {"folder problem lost", SetupMode::Install, true, true, RunFault::MessagesLost, 0, Screen::Failed, L"QV-WIN-2"},
};

TEST(WindowRun, EveryRunEndsOnAScreenThatCloses) {
    timings().doneCloseMs = 60000;
    for (const RunEndCase& c : runEndCases) {
        SeamsRestorer restore;
        FakeSteps fake;
        if (c.folderProblem) {
            fake.problem = problemText;
            fake.problemCode = L"QV-DIR-4";
        }
        WindowHarness h(fake, c.mode, c.askFirst);
        ASSERT_TRUE(createWindow(h.state())) << c.what;
        // A window handle that no longer exists: every post to it fails.
        HWND gone = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                    nullptr, nullptr);
        DestroyWindow(gone);
        if (c.fault == RunFault::MessagesLost) h.state().postTarget = gone;
        if (c.fault == RunFault::ThreadCannotStart)
            windowSeams().startThread = [](LPTHREAD_START_ROUTINE, void*) -> HANDLE {
                SetLastError(ERROR_NOT_ENOUGH_MEMORY);
                return nullptr;
            };
        showFirstScreen(h.state());
        if (c.askFirst) h.send(WM_KEYDOWN, VK_RETURN);
        // One animation tick after the worker ended, before its last
        // message (if any) is handled.
        if (h.state().worker) {
            EXPECT_EQ(WaitForSingleObject(h.state().worker.get(), 5000), WAIT_OBJECT_0) << c.what;
        }
        h.send(WM_TIMER, AnimationTimer);
        if (c.fault == RunFault::None) {
            EXPECT_TRUE(h.state().busy) << c.what;
        }
        ASSERT_TRUE(h.waitIdle()) << c.what;
        EXPECT_EQ(fake.installCalls, c.installs) << c.what;
        EXPECT_EQ(h.state().screen, c.screen) << c.what;
        if (c.screen == Screen::Failed) {
            ASSERT_TRUE(h.state().error) << c.what;
            EXPECT_EQ(h.state().error->code, c.code) << c.what;
            EXPECT_TRUE(h.state().error->retryable) << c.what;
        }
        if (c.fault == RunFault::ThreadCannotStart) {
            EXPECT_NE(h.state().error->detail.find(L"CreateThread"), std::wstring::npos) << c.what;
        }
        h.send(WM_CLOSE);
        EXPECT_TRUE(h.closed()) << c.what;
    }
    timings().doneCloseMs = 1600;
}

std::wstring shownCaption, shownError;

// Without GDI+ nothing can be drawn: the run ends with a message box in the
// user's language, no window and no steps.
TEST(WindowRun, NoGdiplusEndsWithAnError) {
    struct Case {
        SetupMode mode;
        const wchar_t* language;
        const wchar_t* caption;
        const wchar_t* start;  // how the message begins
    };
    const Case cases[] = {
        {SetupMode::Upgrade, L"en", L"QuorvelAI Setup", L"QuorvelAI Setup could not open its window"},
        {SetupMode::Uninstall, L"en", L"Uninstall QuorvelAI", L"QuorvelAI Setup could not open its window"},
        {SetupMode::Install, L"de", L"QuorvelAI Setup", L"QuorvelAI Setup konnte"},
        {SetupMode::Upgrade, L"ja", L"QuorvelAI セットアップ", L"QuorvelAI セットアップ"},
    };
    SeamsRestorer restore;
    windowSeams().startGdiplus = [](ULONG_PTR*) { return Gdiplus::GdiplusNotInitialized; };
    windowSeams().showError = [](const std::wstring& caption, const std::wstring& text) {
        shownCaption = caption;
        shownError = text;
    };
    timings().doneCloseMs = 50;
    for (const Case& c : cases) {
        shownCaption = shownError = L"";
        FakeSteps fake;
        SetupOptions options;
        options.language = c.language;
        SetupWindow window(options, c.mode, L"C:\\Root", false, fake.steps());
        EXPECT_EQ(window.run(GetModuleHandleW(nullptr)), 1);
        EXPECT_EQ(fake.installCalls + fake.uninstallCalls, 0);
        EXPECT_EQ(window.state().gdiplusToken, 0u);
        EXPECT_EQ(shownCaption, c.caption) << toUtf8(c.language);
        EXPECT_EQ(shownError.rfind(c.start, 0), 0u) << toUtf8(shownError);
    }
    timings().doneCloseMs = 1600;
}

// Catches the worker's folder check run before the run lock: against a run
// that holds it, the check makes and removes that run's new folder. Nothing
// of the run starts before the lock.
TEST(WindowRun, NothingRunsBeforeTheRunLock) {
    Timings saved = timings();
    timings().runLockWaitMs = 100;
    timings().pollMs = 10;
    FakeSteps fake;
    HeldRunLock otherRun;
    WindowHarness h(fake, SetupMode::Upgrade, false);
    h.start();
    ASSERT_TRUE(h.waitIdle());
    EXPECT_EQ(h.state().screen, Screen::Failed);
    ASSERT_TRUE(h.state().error);
    EXPECT_EQ(h.state().error->code, L"QV-RUN-2");
    EXPECT_EQ(fake.discoverCalls, 0);
    EXPECT_EQ(fake.installCalls, 0);
    timings() = saved;
}

// The client itself: a reset lets requests run again after a cancel.
TEST(HttpClientReset, RequestsRunAgain) {
    HttpClient client(L"QuorvelAI-Setup/1.0.0", RetrySchedule{{{1, 1}}, {{1, 1, 1, 1, 1}}});
    std::string body;
    std::wstring error;
    client.Cancel();
    EXPECT_FALSE(client.Get(L"http://127.0.0.1:9/versions.json", body, error));
    EXPECT_EQ(error, L"Cancelled");
    client.ResetCancel();
    EXPECT_FALSE(client.cancelled());
    EXPECT_FALSE(client.Get(L"http://127.0.0.1:9/versions.json", body, error));
    // Port 9 refuses the connection: a network error, not a cancel.
    EXPECT_NE(error, L"Cancelled");
}

}  // namespace
}  // namespace qv::test
