// The screens and their transitions, driven through the window procedure
// with the worker's messages.
#include "window_fixture.h"

#include "setup/window/drawing/window_drawing.h"

#include "setup/core/timings.h"

#include <gtest/gtest.h>

namespace qv::test {
namespace {

enum class Event { Status, WaitingForApp, Success, Cancel, Error, FolderProblem, DoneTimer };

struct MessageCase {
    const char* name;
    SetupMode mode;
    bool askFirst;
    Screen from;
    Event event;
    bool closes;
    Screen to;
};

void post(WindowHarness& h, Event event) {
    switch (event) {
    case Event::Status:
        h.send(MsgStatus, 0, reinterpret_cast<LPARAM>(new std::wstring(L"Finishing\u2026")));
        break;
    case Event::WaitingForApp:
        h.send(MsgWaitingForApp);
        break;
    case Event::Success:
        h.send(MsgFinished, 0, 0);
        break;
    case Event::Cancel:
        h.send(MsgFinished, 0, reinterpret_cast<LPARAM>(new SetupError(SetupError::cancelled())));
        break;
    case Event::Error:
        h.send(MsgFinished, 0,
               reinterpret_cast<LPARAM>(new SetupError(makeError(L"QV-NET-5", true))));
        break;
    case Event::FolderProblem:
        h.send(MsgFolderProblem, reinterpret_cast<WPARAM>(new std::wstring(L"C:\\Other")),
               reinterpret_cast<LPARAM>(new std::wstring(L"A note.")));
        break;
    case Event::DoneTimer:
        h.send(WM_TIMER, DoneTimer);
        break;
    }
}

// Each row would fail on a wrong branch of the message handling.
const MessageCase messageCases[] = {
    {"waiting", SetupMode::Install, true, Screen::Working, Event::WaitingForApp, false, Screen::WaitingForApp},
    {"waiting-ignored-elsewhere", SetupMode::Install, true, Screen::Welcome, Event::WaitingForApp, false, Screen::Welcome},
    {"status-ends-waiting", SetupMode::Uninstall, false, Screen::WaitingForApp, Event::Status, false, Screen::Working},
    {"status-keeps-working", SetupMode::Install, true, Screen::Working, Event::Status, false, Screen::Working},
    {"uninstall-done", SetupMode::Uninstall, false, Screen::Working, Event::Success, false, Screen::Removed},
    {"install-done", SetupMode::Install, true, Screen::Working, Event::Success, false, Screen::Done},
    {"upgrade-done-while-waiting", SetupMode::Upgrade, false, Screen::WaitingForApp, Event::Success, false, Screen::Done},
    {"cancel-fresh-install", SetupMode::Install, true, Screen::Working, Event::Cancel, false, Screen::Welcome},
    {"cancel-update-run", SetupMode::Install, false, Screen::Working, Event::Cancel, true, Screen::Working},
    {"cancel-upgrade", SetupMode::Upgrade, false, Screen::Working, Event::Cancel, true, Screen::Working},
    {"cancel-uninstall", SetupMode::Uninstall, false, Screen::WaitingForApp, Event::Cancel, true, Screen::Working},
    {"error", SetupMode::Upgrade, false, Screen::Working, Event::Error, false, Screen::Failed},
    {"folder-problem", SetupMode::Install, true, Screen::Working, Event::FolderProblem, false, Screen::Welcome},
    {"done-timer", SetupMode::Install, true, Screen::Done, Event::DoneTimer, true, Screen::Done},
};

class MessageTransitions : public testing::TestWithParam<MessageCase> {};

TEST_P(MessageTransitions, LeadToTheScreen) {
    const MessageCase& c = GetParam();
    FakeSteps fake;
    WindowHarness h(fake, c.mode, c.askFirst);
    ASSERT_TRUE(createWindow(h.state()));
    h.state().note = L"An older note.";
    h.state().busy = true;
    setScreen(h.state(), c.from);
    post(h, c.event);
    EXPECT_EQ(h.closed(), c.closes);
    if (!c.closes) {
        EXPECT_EQ(h.state().screen, c.to);
    }
}

INSTANTIATE_TEST_SUITE_P(Window, MessageTransitions, testing::ValuesIn(messageCases),
                         [](const auto& info) {
                             std::string name = info.param.name;
                             for (char& ch : name)
                                 if (ch == '-') ch = '_';
                             return name;
                         });

// A finished run fills what the screens and the exit code read.
TEST(WindowMessages, FinishedRunsSetTheirFields) {
    FakeSteps fake;
    WindowHarness h(fake, SetupMode::Install, true);
    ASSERT_TRUE(createWindow(h.state()));
    h.state().busy = true;
    h.state().note = L"stale";
    setScreen(h.state(), Screen::Working);
    post(h, Event::Cancel);
    // Catches a cancel that keeps the old note or leaves the run busy.
    EXPECT_EQ(h.state().note, L"");
    EXPECT_FALSE(h.state().busy);
    EXPECT_FALSE(h.state().succeeded);

    h.state().busy = true;
    h.state().context.releaseVersion = L"9.9.9";
    h.state().context.releaseKnown = true;
    post(h, Event::Error);
    ASSERT_TRUE(h.state().error);
    EXPECT_EQ(h.state().error->code, L"QV-NET-5");
    // The report names the folder and the known version.
    EXPECT_NE(h.state().report.find(L"Install folder: C:\\Proposed\\QuorvelAI\r\n"), std::wstring::npos);
    EXPECT_NE(h.state().report.find(L"Version: 9.9.9\r\n"), std::wstring::npos);

    h.state().busy = true;
    post(h, Event::FolderProblem);
    // The fallback replaces the folder and the note is shown.
    EXPECT_EQ(h.state().folder, L"C:\\Other");
    EXPECT_EQ(h.state().note, L"A note.");
    EXPECT_FALSE(h.state().busy);

    h.state().busy = true;
    post(h, Event::Success);
    EXPECT_TRUE(h.state().succeeded);
}

struct ProgressCase {
    const char* what;
    double target, shown;  // before the report
    int32_t report;        // thousandths, -1 unknown
    double targetAfter, shownAfter;
};

// The bar never shows more than reported, and restarts from 0 after an
// indeterminate phase.
const ProgressCase progressCases[] = {
    {"drop is immediate", 0.5, 0.5, 300, 0.3, 0.3},
    {"rise eases", 0.2, 0.2, 800, 0.8, 0.2},
    {"indeterminate keeps shown", 0.4, 0.4, -1, -1.0, 0.4},
    {"known after unknown starts at 0", -1.0, 0.6, 700, 0.7, 0.0},
};

TEST(WindowMessages, ProgressFollowsTheReports) {
    FakeSteps fake;
    WindowHarness h(fake, SetupMode::Install, true);
    ASSERT_TRUE(createWindow(h.state()));
    setScreen(h.state(), Screen::Working);
    for (const ProgressCase& c : progressCases) {
        h.state().targetFraction = c.target;
        h.state().shownFraction = c.shown;
        h.send(MsgProgress, static_cast<WPARAM>(static_cast<intptr_t>(c.report)));
        EXPECT_DOUBLE_EQ(h.state().targetFraction, c.targetAfter) << c.what;
        EXPECT_DOUBLE_EQ(h.state().shownFraction, c.shownAfter) << c.what;
    }
}

// The animation eases towards the target, and Done shows a full bar.
TEST(WindowMessages, TickEasesTheBar) {
    FakeSteps fake;
    WindowHarness h(fake, SetupMode::Install, true);
    ASSERT_TRUE(createWindow(h.state()));
    setScreen(h.state(), Screen::Working);
    h.state().targetFraction = 1.0;
    h.state().shownFraction = 0.0;
    animationTick(h.state());
    EXPECT_NEAR(h.state().shownFraction, 0.18, 1e-9);
    setScreen(h.state(), Screen::Done);
    h.state().targetFraction = -1.0;
    animationTick(h.state());
    EXPECT_DOUBLE_EQ(h.state().shownFraction, 1.0);
}

// The worker's reports arrive as the messages above, also the fraction's
// conversion to thousandths.
TEST(WindowMessages, ProgressOperationsPost) {
    FakeSteps fake;
    WindowHarness h(fake, SetupMode::Install, true);
    ASSERT_TRUE(createWindow(h.state()));
    setScreen(h.state(), Screen::Working);
    Progress& progress = h.window();
    progress.setStatus(L"Downloading QuorvelAI 1.2.3\u2026");
    progress.setDetail(L"1.0 MB of 2.0 MB");
    progress.setProgress(-0.5);
    progress.setProgress(0.4567);
    ASSERT_TRUE(h.pumpUntil([&] { return h.state().targetFraction > 0; }));
    EXPECT_EQ(h.state().status, L"Downloading QuorvelAI 1.2.3\u2026");
    EXPECT_EQ(h.state().detail, L"1.0 MB of 2.0 MB");
    EXPECT_DOUBLE_EQ(h.state().targetFraction, 0.456);
    timings().keepWaitingPauseMs = 1;
    EXPECT_TRUE(progress.keepWaitingForApp());
    ASSERT_TRUE(h.pumpUntil([&] { return h.state().screen == Screen::WaitingForApp; }));
    h.state().cancelRequested = true;
    // Catches a wait that goes on after the user cancelled.
    EXPECT_FALSE(progress.keepWaitingForApp());
    EXPECT_TRUE(progress.isCancelled());
}

struct TitleCase {
    Screen screen;
    SetupMode mode;
    const wchar_t* title;
};

// Each row catches a title picked for the wrong mode.
const TitleCase titleCases[] = {
    {Screen::Working, SetupMode::Uninstall, L"Removing QuorvelAI"},
    {Screen::Working, SetupMode::Upgrade, L"Updating QuorvelAI"},
    {Screen::Working, SetupMode::Install, L"Installing QuorvelAI"},
    {Screen::Failed, SetupMode::Uninstall, L"QuorvelAI could not be removed"},
    {Screen::Failed, SetupMode::Upgrade, L"Something went wrong"},
    {Screen::Done, SetupMode::Upgrade, L"QuorvelAI is up to date"},
    {Screen::Done, SetupMode::Install, L"QuorvelAI is ready"},
};

TEST(WindowText, TitlesFollowScreenAndMode) {
    FakeSteps fake;
    for (const TitleCase& c : titleCases) {
        WindowHarness h(fake, c.mode, false);
        h.state().screen = c.screen;
        EXPECT_EQ(screenTitle(h.state()), c.title);
    }
}

// While cancelling, the progress screens say so instead of the last status;
// a run that finished before the cancel took shows Done as it is.
TEST(WindowText, ProgressLine) {
    const struct {
        Screen screen;
        bool cancelling;
        const wchar_t* line;
    } cases[] = {
        {Screen::Working, false, L"Unpacking\u2026"},
        {Screen::Working, true, L"Cancelling\u2026"},
        {Screen::WaitingForApp, true, L"Cancelling\u2026"},
        {Screen::Done, false, L"Starting the new version\u2026"},
        {Screen::Done, true, L"Starting the new version\u2026"},
    };
    FakeSteps fake;
    WindowHarness h(fake, SetupMode::Upgrade, false);
    h.state().status = L"Unpacking\u2026";
    for (const auto& c : cases) {
        h.state().screen = c.screen;
        h.state().cancelRequested = c.cancelling;
        EXPECT_EQ(progressLine(h.state()), c.line) << static_cast<int>(c.screen) << c.cancelling;
    }
    h.state().cancelRequested = false;
}

}  // namespace
}  // namespace qv::test
