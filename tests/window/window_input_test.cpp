// Keys, clicks, hit testing, "Copy details" and the folder naming, through
// the window procedure.
#include "window_fixture.h"

#include "setup/window/drawing/window_drawing.h"
#include "setup/window/screens/window_input.h"

#include <gtest/gtest.h>

#include <functional>
#include <iterator>
#include <vector>

namespace qv::test {
namespace {

enum class Outcome { Stays, Closes, Runs, Copies, Toggles, Cancels, Welcome, Minimises, PicksFolder };

struct InputCase {
    const char* what;
    Screen screen;
    SetupMode mode;
    bool askFirst;
    bool retryable;  // of the held error on Failed
    bool busy;
    WPARAM input;  // a virtual key, or a button id for clicks
    Outcome outcome;
};

// Each row would fail on a key handled on the wrong screen or with the
// wrong action.
const InputCase keyCases[] = {
    {"enter installs", Screen::Welcome, SetupMode::Install, true, false, false, VK_RETURN, Outcome::Runs},
    {"esc closes welcome", Screen::Welcome, SetupMode::Install, true, false, false, VK_ESCAPE, Outcome::Closes},
    {"enter uninstalls", Screen::ConfirmUninstall, SetupMode::Uninstall, false, false, false, VK_RETURN, Outcome::Runs},
    {"esc closes confirmation", Screen::ConfirmUninstall, SetupMode::Uninstall, false, false, false, VK_ESCAPE, Outcome::Closes},
    {"space ticks", Screen::ConfirmUninstall, SetupMode::Uninstall, false, false, false, VK_SPACE, Outcome::Toggles},
    {"space elsewhere", Screen::Welcome, SetupMode::Install, true, false, false, VK_SPACE, Outcome::Stays},
    {"enter retries", Screen::Failed, SetupMode::Upgrade, false, true, false, VK_RETURN, Outcome::Runs},
    {"enter copies", Screen::Failed, SetupMode::Upgrade, false, false, false, VK_RETURN, Outcome::Copies},
    {"c copies", Screen::Failed, SetupMode::Install, true, true, false, 0x43, Outcome::Copies},
    {"c elsewhere", Screen::Welcome, SetupMode::Install, true, false, false, 0x43, Outcome::Stays},
    {"esc back to welcome", Screen::Failed, SetupMode::Install, true, true, false, VK_ESCAPE, Outcome::Welcome},
    {"esc closes failure of upgrade", Screen::Failed, SetupMode::Upgrade, false, true, false, VK_ESCAPE, Outcome::Closes},
    {"enter closes removed", Screen::Removed, SetupMode::Uninstall, false, false, false, VK_RETURN, Outcome::Closes},
    {"enter on done", Screen::Done, SetupMode::Install, true, false, false, VK_RETURN, Outcome::Stays},
    {"esc on done", Screen::Done, SetupMode::Install, true, false, false, VK_ESCAPE, Outcome::Closes},
    {"enter while working", Screen::Working, SetupMode::Install, true, false, true, VK_RETURN, Outcome::Stays},
    {"esc while working cancels", Screen::Working, SetupMode::Install, true, false, true, VK_ESCAPE, Outcome::Cancels},
};

// Each row would fail on a button that does another button's work, on a
// screen where it should do nothing, or on swapped buttons of a row.
const InputCase clickCases[] = {
    {"install", Screen::Welcome, SetupMode::Install, true, false, false, RowFirst, Outcome::Runs},
    {"no second button on welcome", Screen::Welcome, SetupMode::Install, true, false, false, RowSecond, Outcome::Stays},
    {"uninstall", Screen::ConfirmUninstall, SetupMode::Uninstall, false, false, false, RowFirst, Outcome::Runs},
    {"cancel the uninstall", Screen::ConfirmUninstall, SetupMode::Uninstall, false, false, false, RowSecond, Outcome::Closes},
    {"try again", Screen::Failed, SetupMode::Upgrade, false, true, false, RowFirst, Outcome::Runs},
    {"copy beside try again", Screen::Failed, SetupMode::Upgrade, false, true, false, RowSecond, Outcome::Copies},
    {"close beside try again", Screen::Failed, SetupMode::Install, true, true, false, RowThird, Outcome::Welcome},
    {"close of an upgrade", Screen::Failed, SetupMode::Upgrade, false, true, false, RowThird, Outcome::Closes},
    {"copy first without retry", Screen::Failed, SetupMode::Upgrade, false, false, false, RowFirst, Outcome::Copies},
    {"close second without retry", Screen::Failed, SetupMode::Install, true, false, false, RowSecond, Outcome::Welcome},
    {"no third without retry", Screen::Failed, SetupMode::Upgrade, false, false, false, RowThird, Outcome::Stays},
    {"close removed", Screen::Removed, SetupMode::Uninstall, false, false, false, RowFirst, Outcome::Closes},
    {"row while working", Screen::Working, SetupMode::Install, true, false, true, RowFirst, Outcome::Stays},
    {"check box", Screen::ConfirmUninstall, SetupMode::Uninstall, false, false, false, RemoveDataBox, Outcome::Toggles},
    {"minimise", Screen::Welcome, SetupMode::Install, true, false, false, MinimiseButton, Outcome::Minimises},
    {"minimise while working", Screen::Working, SetupMode::Install, true, false, true, MinimiseButton, Outcome::Minimises},
    {"close", Screen::Welcome, SetupMode::Install, true, false, false, CloseButton, Outcome::Closes},
    {"close on failure", Screen::Failed, SetupMode::Install, true, true, false, CloseButton, Outcome::Closes},
    {"close while working cancels", Screen::Working, SetupMode::Install, true, false, true, CloseButton, Outcome::Cancels},
    {"folder link", Screen::Welcome, SetupMode::Install, true, false, false, FolderLink, Outcome::PicksFolder},
    {"folder link elsewhere", Screen::Failed, SetupMode::Install, true, true, false, FolderLink, Outcome::Stays},
};

// The titles of the dialogs that came up on this thread; each is cancelled
// once it is active.
std::vector<std::wstring> dialogsShown;

LRESULT CALLBACK cancelDialogs(int code, WPARAM wParam, LPARAM lParam) {
    auto window = reinterpret_cast<HWND>(wParam);
    wchar_t name[16] = L"";
    if (code == HCBT_ACTIVATE && GetClassNameW(window, name, 16) && wcscmp(name, L"#32770") == 0 &&
        !GetPropW(window, L"qv-cancelled")) {
        SetPropW(window, L"qv-cancelled", window);
        wchar_t title[128] = L"";
        GetWindowTextW(window, title, 128);
        dialogsShown.push_back(title);
        PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

void checkOutcome(WindowHarness& h, FakeSteps& fake, const InputCase& c,
                  const std::function<void()>& again) {
    WindowState& s = h.state();
    const char* what = c.what;
    switch (c.outcome) {
    case Outcome::Stays:
        EXPECT_FALSE(h.closed()) << what;
        EXPECT_EQ(s.screen, c.screen) << what;
        EXPECT_EQ(fake.installCalls + fake.uninstallCalls, 0) << what;
        EXPECT_FALSE(s.removeDataChecked) << what;
        EXPECT_EQ(s.copiedAt, 0u) << what;
        EXPECT_FALSE(s.cancelRequested.load()) << what;
        EXPECT_TRUE(dialogsShown.empty()) << what;
        break;
    case Outcome::Closes:
        EXPECT_TRUE(h.closed()) << what;
        EXPECT_EQ(fake.installCalls + fake.uninstallCalls, 0) << what;
        break;
    case Outcome::Runs:
        EXPECT_TRUE(s.busy) << what;
        EXPECT_EQ(s.screen, Screen::Working) << what;
        EXPECT_EQ(WaitForSingleObject(fake.entered.get(), 5000), WAIT_OBJECT_0) << what;
        break;
    case Outcome::Copies:
        EXPECT_NE(s.copiedAt, 0u) << what;
        EXPECT_EQ(copyLabel(s), L"Copied") << what;
        EXPECT_EQ(s.screen, Screen::Failed) << what;
        break;
    case Outcome::Toggles:
        EXPECT_TRUE(s.removeDataChecked) << what;
        again();
        EXPECT_FALSE(s.removeDataChecked) << what << ", second time";
        EXPECT_EQ(s.screen, c.screen) << what;
        break;
    case Outcome::Cancels:
        EXPECT_FALSE(h.closed()) << what;
        EXPECT_TRUE(s.cancelRequested.load()) << what;
        EXPECT_TRUE(s.httpClient.cancelled()) << what;
        break;
    case Outcome::Welcome:
        EXPECT_EQ(s.screen, Screen::Welcome) << what;
        EXPECT_EQ(s.note, L"The stand-in step failed.") << what;
        break;
    case Outcome::Minimises:
        EXPECT_FALSE(h.closed()) << what;
        EXPECT_TRUE(IsIconic(s.window)) << what;
        EXPECT_EQ(s.screen, c.screen) << what;
        EXPECT_FALSE(s.cancelRequested.load()) << what;
        break;
    case Outcome::PicksFolder:
        EXPECT_FALSE(h.closed()) << what;
        ASSERT_EQ(dialogsShown.size(), 1u) << what;
        EXPECT_EQ(dialogsShown[0], L"Choose where to install QuorvelAI") << what;
        // Cancelled: the folder stays.
        EXPECT_EQ(s.folder, L"C:\\Proposed\\QuorvelAI") << what;
        EXPECT_FALSE(s.busy) << what;
        break;
    }
}

// Runs each case on a fresh window with its screen set up, applying the
// input with act.
void runInputCases(const InputCase* cases, size_t count,
                   const std::function<void(WindowHarness&, WPARAM)>& act) {
    // The folder picker needs the apartment the program's main thread has.
    ComApartment apartment;
    for (size_t i = 0; i < count; ++i) {
        const InputCase& c = cases[i];
        FakeSteps fake;
        fake.end = StepEnd::UntilReleased;
        WindowHarness h(fake, c.mode, c.askFirst);
        ASSERT_TRUE(createWindow(h.state()));
        h.state().busy = c.busy;
        if (c.screen == Screen::Failed)
            h.state().error = std::make_unique<SetupError>(makeError(L"QV-NET-5", c.retryable));
        setScreen(h.state(), c.screen);
        dialogsShown.clear();
        HHOOK hook = SetWindowsHookExW(WH_CBT, cancelDialogs, nullptr, GetCurrentThreadId());
        act(h, c.input);
        checkOutcome(h, fake, c, [&] { act(h, c.input); });
        UnhookWindowsHookEx(hook);
        // The harness must not wait for a run the test only pretended.
        if (c.busy && fake.installCalls == 0) h.state().busy = false;
    }
}

TEST(WindowKeys, Table) {
    runInputCases(keyCases, std::size(keyCases),
                  [](WindowHarness& h, WPARAM key) { h.send(WM_KEYDOWN, key); });
}

TEST(WindowClicks, Table) {
    runInputCases(clickCases, std::size(clickCases),
                  [](WindowHarness& h, WPARAM id) { click(h.state(), static_cast<int32_t>(id)); });
}

// A second cancel request while cancelling does nothing; once idle, the
// same command closes the window.
TEST(WindowKeys, CancelOnce) {
    FakeSteps fake;
    fake.end = StepEnd::UntilReleased;
    WindowHarness h(fake, SetupMode::Upgrade, false);
    h.start();
    ASSERT_EQ(WaitForSingleObject(fake.entered.get(), 5000), WAIT_OBJECT_0);
    h.send(WM_CLOSE);
    EXPECT_TRUE(h.state().cancelRequested.load());
    h.state().httpClient.ResetCancel();
    h.send(WM_KEYDOWN, VK_ESCAPE);
    // A repeated cancel would have cancelled the client again.
    EXPECT_FALSE(h.state().httpClient.cancelled());
    EXPECT_FALSE(h.closed());
    SetEvent(fake.release.get());
    // The stand-in ends normally: the run succeeded after all.
    ASSERT_TRUE(h.waitIdle());
    EXPECT_EQ(h.state().screen, Screen::Done);
}

LPARAM at(float x, float y) {
    return MAKELPARAM(static_cast<int>(x), static_cast<int>(y));
}

const WindowButton* find(const WindowState& s, int32_t id) {
    for (const WindowButton& b : s.buttons)
        if (b.id == id) return &b;
    return nullptr;
}

// A press that ends off its button does nothing; back on it, it clicks.
TEST(WindowMouse, PressAndRelease) {
    FakeSteps fake;
    fake.end = StepEnd::UntilReleased;
    WindowHarness h(fake, SetupMode::Install, true);
    h.start();
    const WindowButton* install = find(h.state(), RowFirst);
    ASSERT_TRUE(install);
    float cx = install->x + install->width / 2, cy = install->y + install->height / 2;
    h.send(WM_LBUTTONDOWN, MK_LBUTTON, at(cx, cy));
    EXPECT_EQ(h.state().pressedId, RowFirst);
    h.send(WM_LBUTTONUP, 0, at(cx, cy + 100));
    EXPECT_EQ(h.state().pressedId, 0);
    EXPECT_FALSE(h.state().busy);
    h.send(WM_LBUTTONDOWN, MK_LBUTTON, at(cx, cy));
    h.send(WM_MOUSEMOVE, MK_LBUTTON, at(cx, cy + 100));
    h.send(WM_MOUSEMOVE, MK_LBUTTON, at(cx, cy));
    h.send(WM_LBUTTONUP, 0, at(cx, cy));
    EXPECT_TRUE(h.state().busy);
}

// Buttons answer HTCLIENT, everything else drags the window.
TEST(WindowMouse, HitTestAndCaption) {
    FakeSteps fake;
    WindowHarness h(fake, SetupMode::Install, true);
    h.start();
    RECT box{};
    GetWindowRect(h.state().window, &box);
    const WindowButton* close = find(h.state(), CloseButton);
    ASSERT_TRUE(close);
    auto screenAt = [&](float x, float y) {
        return MAKELPARAM(box.left + static_cast<int>(x), box.top + static_cast<int>(y));
    };
    EXPECT_EQ(h.send(WM_NCHITTEST, 0, screenAt(close->x + 5, close->y + 5)), HTCLIENT);
    EXPECT_EQ(h.send(WM_NCHITTEST, 0, screenAt(20, 150)), HTCAPTION);
    // The title-bar buttons sit right to left: close, then minimise.
    EXPECT_EQ(hitTest(h.state(), close->x + 1, close->y + 1), CloseButton);
    EXPECT_EQ(hitTest(h.state(), close->x - 10, close->y + 1), MinimiseButton);
    EXPECT_EQ(hitTest(h.state(), close->x + close->width, close->y + 1), 0);
    // Later entries win where boxes overlap.
    h.state().buttons.push_back({FolderLink, close->x, close->y, 5, 5, L"", false});
    EXPECT_EQ(hitTest(h.state(), close->x + 1, close->y + 1), FolderLink);
}

// The row rule: centred, 10 apart, minimum widths, and "Copied" as wide
// as "Copy details".
TEST(WindowLayout, RowsAndCopyLabel) {
    FakeSteps fake;
    WindowHarness h(fake, SetupMode::Install, true);
    ASSERT_TRUE(createWindow(h.state()));
    h.state().error = std::make_unique<SetupError>(makeError(L"QV-NET-5", true));
    setScreen(h.state(), Screen::Failed);
    const auto& b = h.state().buttons;
    ASSERT_EQ(b.size(), 5u);
    EXPECT_EQ(b[0].label, L"Try again");
    EXPECT_TRUE(b[0].primary);
    EXPECT_EQ(b[1].label, L"Copy details");
    EXPECT_FALSE(b[1].primary);
    EXPECT_GE(b[0].width, 128.0f);
    EXPECT_GE(b[2].width, 104.0f);
    EXPECT_FLOAT_EQ(b[1].x, b[0].x + b[0].width + 10);
    float row = b[2].x + b[2].width - b[0].x;
    EXPECT_NEAR(b[0].x, (440 - row) / 2, 0.01);
    EXPECT_FLOAT_EQ(b[0].y, 290);
    float before = b[1].width;
    h.state().report = L"report";
    h.send(WM_KEYDOWN, 0x43);
    EXPECT_EQ(h.state().buttons[1].label, L"Copied");
    EXPECT_FLOAT_EQ(h.state().buttons[1].width, before);
    // 1.6 s later the tick turns the label back.
    h.state().copiedAt = GetTickCount64() - 1700;
    animationTick(h.state());
    EXPECT_EQ(h.state().buttons[1].label, L"Copy details");
    EXPECT_EQ(h.state().copiedAt, 0u);
}

// The still screens are repainted only while the copy label changes.
TEST(WindowLayout, StillScreensRepaintOnlyForTheLabel) {
    FakeSteps fake;
    WindowHarness h(fake, SetupMode::Install, true);
    ASSERT_TRUE(createWindow(h.state()));
    ShowWindow(h.state().window, SW_SHOW);
    setScreen(h.state(), Screen::Working);
    EXPECT_TRUE(tickRepaints(h.state()));
    h.state().error = std::make_unique<SetupError>(makeError(L"QV-NET-5", false));
    setScreen(h.state(), Screen::Failed);
    EXPECT_FALSE(tickRepaints(h.state()));
    h.state().copiedAt = GetTickCount64();
    EXPECT_TRUE(tickRepaints(h.state()));
    h.state().copiedAt = 0;
    h.state().relayoutPending = true;
    EXPECT_TRUE(tickRepaints(h.state()));
    h.state().relayoutPending = false;
    setScreen(h.state(), Screen::Removed);
    EXPECT_FALSE(tickRepaints(h.state()));
}

// The report goes to the clipboard as it is.
TEST(WindowCopy, PutsTheReportOnTheClipboard) {
    FakeSteps fake;
    WindowHarness h(fake, SetupMode::Install, true);
    ASSERT_TRUE(createWindow(h.state()));
    h.state().error = std::make_unique<SetupError>(makeError(L"QV-NET-5", false));
    h.state().report = L"QuorvelAI Setup 1.0.0\r\nError: QV-NET-5\r\n";
    setScreen(h.state(), Screen::Failed);
    h.send(WM_KEYDOWN, VK_RETURN);
    ASSERT_TRUE(OpenClipboard(nullptr));
    HANDLE data = GetClipboardData(CF_UNICODETEXT);
    std::wstring text;
    if (data) {
        if (auto* chars = static_cast<const wchar_t*>(GlobalLock(data))) {
            text = chars;
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    EXPECT_EQ(text, h.state().report);
}

// "Copied" only when the clipboard took the report; the label stays as it
// was when the hand-over fails.
TEST(WindowCopy, NoCopiedLabelWhenTheClipboardRefuses) {
    SeamsRestorer restore;
    windowSeams().setClipboardData = [](UINT, HANDLE) -> HANDLE { return nullptr; };
    FakeSteps fake;
    WindowHarness h(fake, SetupMode::Install, true);
    ASSERT_TRUE(createWindow(h.state()));
    h.state().error = std::make_unique<SetupError>(makeError(L"QV-NET-5", false));
    h.state().report = L"report";
    setScreen(h.state(), Screen::Failed);
    h.send(WM_KEYDOWN, 0x43);
    EXPECT_EQ(h.state().copiedAt, 0u);
    EXPECT_EQ(h.state().buttons[0].label, L"Copy details");
}

// A picked folder gets "QuorvelAI" appended unless it already ends so, in
// any letter case.
TEST(WindowFolder, PickedFolderNames) {
    const struct {
        const wchar_t* picked;
        const wchar_t* folder;
    } cases[] = {
        {L"D:\\Apps", L"D:\\Apps\\QuorvelAI"},
        {L"D:\\Apps\\quorvelai", L"D:\\Apps\\quorvelai"},
        {L"D:\\Apps\\", L"D:\\Apps\\QuorvelAI"},
        {L"D:\\", L"D:\\QuorvelAI"},
        {L"D:\\QuorvelAI Beta", L"D:\\QuorvelAI Beta\\QuorvelAI"},
    };
    for (const auto& c : cases) EXPECT_EQ(installFolderFor(c.picked), c.folder) << c.picked;
}

}  // namespace
}  // namespace qv::test
