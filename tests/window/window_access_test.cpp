// The window's accessible objects, announcements, keyboard focus and
// high-contrast frame, through the window procedure and oleacc as a screen
// reader reaches them.
#include "accessible_support.h"
#include "window_fixture.h"

#include "setup/window/accessibility/window_access.h"
#include "setup/window/accessibility/window_accessible.h"
#include "setup/window/drawing/window_drawing.h"
#include "setup/window/screens/window_input.h"
#include "setup/window/screens/window_items.h"

#include "foundation/text.h"

#include <gtest/gtest.h>

#include <oleacc.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace qv::test {
namespace {

ComPtr<IAccessible> clientObject(HWND window) {
    ComPtr<IAccessible> object;
    AccessibleObjectFromWindow(window, static_cast<DWORD>(OBJID_CLIENT), accessibleIid,
                               object.putVoid());
    return object;
}

// A screen set up as a test row asks for it.
struct Scene {
    Screen screen;
    SetupMode mode;
    bool retryable = false;
    bool ticked = false;
    const wchar_t* note = L"";
    const wchar_t* status = L"Downloading QuorvelAI 1.2.3\u2026";
};

// Creates the window and shows the scene's screen; the window shows and
// has the keyboard focus unless hidden is set.
void show(WindowHarness& h, const Scene& scene, bool hidden = false) {
    ASSERT_TRUE(createWindow(h.state()));
    if (!hidden) {
        ShowWindow(h.state().window, SW_SHOW);
        SetFocus(h.state().window);
    }
    h.state().note = scene.note;
    h.state().removeDataChecked = scene.ticked;
    h.state().status = scene.status;
    h.state().targetFraction = 0.42;
    h.state().shownFraction = 0.42;
    if (scene.screen == Screen::Failed)
        h.state().error = std::make_unique<SetupError>(makeError(L"QV-NET-5", scene.retryable));
    setScreen(h.state(), scene.screen);
}

struct Child {
    long role;
    const wchar_t* name;
    long state;  // bits that must be set
    // Logical box inside the window for the texts and the bar; the
    // buttons are checked against the mouse's hit test instead.
    float x, y, w, h;
};

constexpr long Text = ROLE_SYSTEM_STATICTEXT, Push = ROLE_SYSTEM_PUSHBUTTON;
constexpr long Default = STATE_SYSTEM_DEFAULT | STATE_SYSTEM_FOCUSABLE | STATE_SYSTEM_FOCUSED;
constexpr long Focusable = STATE_SYSTEM_FOCUSABLE;
const Child minimise{Push, L"Minimise", Focusable, 0, 0, 0, 0};
const Child closeBox{Push, L"Close window", Focusable, 0, 0, 0, 0};

struct ChildrenCase {
    const char* what;
    Scene scene;
    const wchar_t* value;  // of the progress bar, when the screen has one
    std::vector<Child> children;
};

// Each row fails on a missing, extra or misplaced child, a wrong role,
// name or state, or a box that is not where the screen draws it.
const ChildrenCase childrenCases[] = {
    {"welcome", {Screen::Welcome, SetupMode::Install}, nullptr,
     {{Text, L"QuorvelAI", STATE_SYSTEM_READONLY, 24, 186, 392, 32},
      {Text, L"Roblox AI Game Creator", 0, 24, 220, 392, 24},
      {Push, L"Install", Default, 0, 0, 0, 0},
      {ROLE_SYSTEM_LINK, L"Change install location", Focusable | STATE_SYSTEM_LINKED, 0, 0, 0, 0},
      minimise, closeBox}},
    {"welcome with a note", {Screen::Welcome, SetupMode::Install, false, false, L"Not enough space."}, nullptr,
     {{Text, L"QuorvelAI", 0, 24, 186, 392, 32},
      {Text, L"Not enough space.", 0, 36, 218, 368, 30},
      {Push, L"Install", Default, 0, 0, 0, 0},
      {ROLE_SYSTEM_LINK, L"Change install location", Focusable, 0, 0, 0, 0},
      minimise, closeBox}},
    {"working", {Screen::Working, SetupMode::Upgrade}, L"42 %",
     {{Text, L"Updating QuorvelAI", 0, 24, 186, 392, 32},
      {Text, L"Downloading QuorvelAI 1.2.3\u2026", 0, 28, 220, 384, 40},
      {ROLE_SYSTEM_PROGRESSBAR, L"Progress", STATE_SYSTEM_READONLY | Focusable | STATE_SYSTEM_FOCUSED, 64, 262, 312, 6},
      minimise, closeBox}},
    // The bar keeps its id when the status line comes.
    {"working, no status yet", {Screen::Working, SetupMode::Upgrade, false, false, L"", L""}, L"42 %",
     {{Text, L"Updating QuorvelAI", 0, 24, 186, 392, 32},
      {Text, L"", 0, 28, 220, 384, 40},
      {ROLE_SYSTEM_PROGRESSBAR, L"Progress", Focusable | STATE_SYSTEM_FOCUSED, 64, 262, 312, 6},
      minimise, closeBox}},
    {"done", {Screen::Done, SetupMode::Install}, L"100 %",
     {{Text, L"QuorvelAI is ready", 0, 24, 186, 392, 32},
      {Text, L"Starting QuorvelAI\u2026", 0, 28, 220, 384, 40},
      {ROLE_SYSTEM_PROGRESSBAR, L"Progress", 0, 64, 262, 312, 6},
      minimise, closeBox}},
    {"failed, retryable", {Screen::Failed, SetupMode::Install, true}, nullptr,
     {{Text, L"Something went wrong", 0, 24, 186, 392, 32},
      {Text, L"The stand-in step failed.", STATE_SYSTEM_ALERT_HIGH, 32, 220, 376, 46},
      {Text, L"Error QV-NET-5", 0, 24, 266, 392, 18},
      {Push, L"Try again", Default, 0, 0, 0, 0},
      {Push, L"Copy details", Focusable, 0, 0, 0, 0},
      {Push, L"Close", Focusable, 0, 0, 0, 0},
      minimise, closeBox}},
    {"failed, not retryable", {Screen::Failed, SetupMode::Uninstall, false}, nullptr,
     {{Text, L"QuorvelAI could not be removed", 0, 24, 186, 392, 32},
      {Text, L"The stand-in step failed.", 0, 32, 220, 376, 46},
      {Text, L"Error QV-NET-5", 0, 24, 266, 392, 18},
      {Push, L"Copy details", Default, 0, 0, 0, 0},
      {Push, L"Close", Focusable, 0, 0, 0, 0},
      minimise, closeBox}},
    {"confirmation, ticked", {Screen::ConfirmUninstall, SetupMode::Uninstall, false, true}, nullptr,
     {{Text, L"Uninstall QuorvelAI?", 0, 24, 186, 392, 32},
      {Text, L"Your Roblox projects are not touched.", 0, 24, 220, 392, 24},
      {ROLE_SYSTEM_CHECKBUTTON, L"Also delete settings, sign-in and chat history",
       Focusable | STATE_SYSTEM_FOCUSED | STATE_SYSTEM_CHECKED, 0, 0, 0, 0},
      {Push, L"Uninstall", STATE_SYSTEM_DEFAULT | Focusable, 0, 0, 0, 0},
      {Push, L"Cancel", Focusable, 0, 0, 0, 0},
      minimise, closeBox}},
    {"removed", {Screen::Removed, SetupMode::Uninstall}, nullptr,
     {{Text, L"QuorvelAI was removed", 0, 24, 186, 392, 32},
      {Text, L"It is no longer on this PC.", 0, 24, 220, 392, 24},
      {Push, L"Close", Default, 0, 0, 0, 0},
      minimise, closeBox}},
};

void checkChild(IAccessible& object, WindowHarness& h, long id, const Child& want,
                const std::string& what) {
    VARIANT role, state;
    ASSERT_EQ(object.get_accRole(child(id), &role), S_OK) << what;
    EXPECT_EQ(role.lVal, want.role) << what;
    BSTR name = nullptr;
    object.get_accName(child(id), &name);
    EXPECT_EQ(takeString(name), want.name) << what;
    ASSERT_EQ(object.get_accState(child(id), &state), S_OK) << what;
    EXPECT_EQ(state.lVal & want.state, want.state) << what;
    long x = 0, y = 0, w = 0, height = 0;
    ASSERT_EQ(object.accLocation(&x, &y, &w, &height, child(id)), S_OK) << what;
    RECT window{};
    GetWindowRect(h.state().window, &window);
    if (want.w > 0) {
        // 96 dpi in the component prefix: logical pixels are client pixels.
        EXPECT_NEAR(x - window.left, want.x, 1) << what;
        EXPECT_NEAR(y - window.top, want.y, 1) << what;
        EXPECT_NEAR(w, want.w, 2) << what;
        EXPECT_NEAR(height, want.h, 2) << what;
    } else {
        // What the location covers is what the mouse hits, in screen
        // coordinates.
        float cx = static_cast<float>(x - window.left + w / 2);
        float cy = static_cast<float>(y - window.top + height / 2);
        EXPECT_NE(hitTest(h.state(), cx, cy), 0) << what;
        VARIANT hit;
        ASSERT_EQ(object.accHitTest(x + w / 2, y + height / 2, &hit), S_OK) << what;
        EXPECT_EQ(hit.lVal, id) << what;
        BSTR action = nullptr;
        object.get_accDefaultAction(child(id), &action);
        std::wstring expected = want.role == ROLE_SYSTEM_CHECKBUTTON ? L"Uncheck" : L"Press";
        EXPECT_EQ(takeString(action), expected) << what;
    }
}

TEST(WindowAccessible, ChildrenOfEachScreen) {
    ComApartment com;
    for (const ChildrenCase& c : childrenCases) {
        FakeSteps fake;
        WindowHarness h(fake, c.scene.mode, true);
        show(h, c.scene);
        ComPtr<IAccessible> object = clientObject(h.state().window);
        ASSERT_TRUE(object) << c.what;
        BSTR name = nullptr;
        object->get_accName(child(CHILDID_SELF), &name);
        EXPECT_EQ(takeString(name), c.scene.mode == SetupMode::Uninstall ? L"Uninstall QuorvelAI"
                                                                    : L"QuorvelAI Setup")
            << c.what;
        long count = 0;
        ASSERT_EQ(object->get_accChildCount(&count), S_OK);
        ASSERT_EQ(count, static_cast<long>(c.children.size())) << c.what;
        for (long i = 0; i < count; ++i)
            checkChild(*object.get(), h, i + 1, c.children[static_cast<size_t>(i)],
                       std::string(c.what) + ", child " + std::to_string(i + 1));
        for (long i = 0; i < count; ++i) {
            if (c.children[static_cast<size_t>(i)].role != ROLE_SYSTEM_PROGRESSBAR) continue;
            BSTR value = nullptr;
            object->get_accValue(child(i + 1), &value);
            EXPECT_EQ(takeString(value), c.value) << c.what;
        }
        VARIANT beyond;
        EXPECT_EQ(object->get_accRole(child(count + 1), &beyond), E_INVALIDARG) << c.what;
        EXPECT_EQ(object->accNavigate(0, child(CHILDID_SELF), &beyond), E_INVALIDARG) << c.what;
        EXPECT_EQ(object->accNavigate(NAVDIR_LASTCHILD + 1, child(1), &beyond), E_INVALIDARG)
            << c.what;
    }
}

enum class Effect { Runs, Closes, Toggles, Copies, Minimises, Refused };

// A press through a screen reader's default action on the child named, or
// through keys: t Tab, s Shift+Tab, then e Enter or p Space.
struct PressCase {
    const char* what;
    Scene scene;
    const wchar_t* child;  // null: the keys press
    const char* keys;
    int32_t focus;  // the ring's button id before the last key
    Effect effect;
};

// Each row fails when the default action does something else than the
// click on the same child, on a wrong tab order, a ring that does not
// wrap, or a key that presses something else than the focused item.
const PressCase pressCases[] = {
    {"install", {Screen::Welcome, SetupMode::Install}, L"Install", "", 0, Effect::Runs},
    {"uninstall", {Screen::ConfirmUninstall, SetupMode::Uninstall}, L"Uninstall", "", 0, Effect::Runs},
    {"cancel the uninstall", {Screen::ConfirmUninstall, SetupMode::Uninstall}, L"Cancel", "", 0, Effect::Closes},
    {"tick the box", {Screen::ConfirmUninstall, SetupMode::Uninstall}, L"Also delete settings, sign-in and chat history", "", 0, Effect::Toggles},
    {"try again", {Screen::Failed, SetupMode::Upgrade, true}, L"Try again", "", 0, Effect::Runs},
    {"copy", {Screen::Failed, SetupMode::Upgrade, true}, L"Copy details", "", 0, Effect::Copies},
    {"close removed", {Screen::Removed, SetupMode::Uninstall}, L"Close", "", 0, Effect::Closes},
    {"minimise", {Screen::Welcome, SetupMode::Install}, L"Minimise", "", 0, Effect::Minimises},
    {"a text has no action", {Screen::Welcome, SetupMode::Install}, L"QuorvelAI", "", 0, Effect::Refused},
    // The first Tab leaves Install, where the focus starts, for the link.
    {"link, minimise, close, wrap", {Screen::Welcome, SetupMode::Install}, nullptr, "tttte", RowFirst, Effect::Runs},
    {"shift+tab from install is close", {Screen::Welcome, SetupMode::Install}, nullptr, "se", CloseButton, Effect::Closes},
    // The box is drawn above the row and has the focus first.
    {"space presses the focused button", {Screen::ConfirmUninstall, SetupMode::Uninstall}, nullptr, "tp", RowFirst, Effect::Runs},
    {"cancel is second", {Screen::ConfirmUninstall, SetupMode::Uninstall}, nullptr, "tte", RowSecond, Effect::Closes},
    {"minimise after the row", {Screen::ConfirmUninstall, SetupMode::Uninstall}, nullptr, "ttte", MinimiseButton, Effect::Minimises},
    {"space on the ringed box ticks", {Screen::ConfirmUninstall, SetupMode::Uninstall}, nullptr, "tttttp", RemoveDataBox, Effect::Toggles},
    {"enter on the ringed box uninstalls", {Screen::ConfirmUninstall, SetupMode::Uninstall}, nullptr, "ttttte", RemoveDataBox, Effect::Runs},
    {"back from uninstall is the box", {Screen::ConfirmUninstall, SetupMode::Uninstall}, nullptr, "tsp", RemoveDataBox, Effect::Toggles},
    {"copy with enter on its button", {Screen::Failed, SetupMode::Upgrade, true}, nullptr, "te", RowSecond, Effect::Copies},
    {"close on a failure", {Screen::Failed, SetupMode::Upgrade, true}, nullptr, "tte", RowThird, Effect::Closes},
    {"working has the title bar only", {Screen::Working, SetupMode::Upgrade}, nullptr, "tte", CloseButton, Effect::Closes},
};

long childNamed(IAccessible& object, const wchar_t* wanted) {
    long count = 0;
    object.get_accChildCount(&count);
    for (long i = 1; i <= count; ++i) {
        BSTR name = nullptr;
        object.get_accName(child(i), &name);
        if (takeString(name) == wanted) return i;
    }
    return 0;
}

void pressKeys(WindowHarness& h, const std::string& keys) {
    BYTE keyboard[256] = {};
    for (char k : keys) {
        keyboard[VK_SHIFT] = k == 's' ? 0x80 : 0;
        SetKeyboardState(keyboard);
        h.send(WM_KEYDOWN, k == 'e' ? VK_RETURN : k == 'p' ? VK_SPACE : VK_TAB);
    }
    keyboard[VK_SHIFT] = 0;
    SetKeyboardState(keyboard);
}

// The default action: refused, or accepted and run from the message loop.
void pressThroughClient(WindowHarness& h, const PressCase& c) {
    ComPtr<IAccessible> object = clientObject(h.state().window);
    ASSERT_TRUE(object) << c.what;
    long id = childNamed(*object.get(), c.child);
    ASSERT_NE(id, 0) << c.what;
    HRESULT hr = object->accDoDefaultAction(child(id));
    EXPECT_EQ(hr, c.effect == Effect::Refused ? DISP_E_MEMBERNOTFOUND : S_OK) << c.what;
    WindowState& s = h.state();
    h.pumpUntil([&] {
        return h.closed() || s.busy || s.removeDataChecked || s.copiedAt != 0 || IsIconic(s.window);
    }, c.effect == Effect::Refused ? 100 : 2000);
}

void checkEffect(WindowHarness& h, FakeSteps& fake, Effect effect, const char* what) {
    WindowState& s = h.state();
    EXPECT_EQ(s.busy, effect == Effect::Runs) << what;
    EXPECT_EQ(h.closed(), effect == Effect::Closes) << what;
    EXPECT_EQ(s.removeDataChecked, effect == Effect::Toggles) << what;
    EXPECT_EQ(s.copiedAt != 0, effect == Effect::Copies) << what;
    EXPECT_EQ(s.window && IsIconic(s.window), effect == Effect::Minimises) << what;
    if (effect == Effect::Runs) {
        EXPECT_EQ(WaitForSingleObject(fake.entered.get(), 5000), WAIT_OBJECT_0) << what;
    }
}

TEST(WindowPress, ByDefaultActionAndKeys) {
    ComApartment com;
    for (const PressCase& c : pressCases) {
        FakeSteps fake;
        fake.end = StepEnd::UntilReleased;
        WindowHarness h(fake, c.scene.mode, true);
        // Hidden: a first paint under load could outlast "Copied".
        show(h, c.scene, true);
        if (c.child) {
            pressThroughClient(h, c);
        } else {
            std::string keys = c.keys;
            pressKeys(h, keys.substr(0, keys.size() - 1));
            EXPECT_EQ(h.state().access.focusId, c.focus) << c.what;
            pressKeys(h, keys.substr(keys.size() - 1));
        }
        checkEffect(h, fake, c.effect, c.what);
    }
}

// A press asked for on one screen does nothing once another one shows.
TEST(WindowAccessible, StalePressIsDropped) {
    ComApartment com;
    FakeSteps fake;
    WindowHarness h(fake, SetupMode::Uninstall, false);
    show(h, {Screen::ConfirmUninstall, SetupMode::Uninstall});
    ComPtr<IAccessible> object = clientObject(h.state().window);
    ASSERT_TRUE(object);
    ASSERT_EQ(object->accDoDefaultAction(child(childNamed(*object.get(), L"Cancel"))), S_OK);
    h.state().error = std::make_unique<SetupError>(makeError(L"QV-NET-5", true));
    setScreen(h.state(), Screen::Failed);
    h.pumpUntil([] { return false; }, 200);
    EXPECT_FALSE(h.closed());
    EXPECT_EQ(h.state().copiedAt, 0u);
}

// Clients may keep the object past the window: then every call says so,
// and the last release frees it.
TEST(WindowAccessible, OutlivesTheWindowDisconnected) {
    ComApartment com;
    FakeSteps fake;
    WindowHarness h(fake, SetupMode::Install, true);
    show(h, {Screen::Welcome, SetupMode::Install});
    ComPtr<IAccessible> object = clientObject(h.state().window);
    ASSERT_TRUE(object);
    // Other objects of the window are left to the system's default.
    EXPECT_EQ(h.send(WM_GETOBJECT, 0, static_cast<LPARAM>(OBJID_WINDOW)), 0);
    EXPECT_EQ(h.send(WM_GETOBJECT, 0, static_cast<LPARAM>(OBJID_CARET)), 0);
    DestroyWindow(h.state().window);
    long count = -1;
    HRESULT hr = object->get_accChildCount(&count);
    EXPECT_TRUE(hr == RPC_E_DISCONNECTED || hr == CO_E_OBJNOTCONNECTED) << std::hex << hr;
    BSTR name = nullptr;
    hr = object->get_accName(child(1), &name);
    EXPECT_TRUE(hr == RPC_E_DISCONNECTED || hr == CO_E_OBJNOTCONNECTED) << std::hex << hr;
    EXPECT_EQ(name, nullptr);
    EXPECT_EQ(object->accDoDefaultAction(child(3)), RPC_E_DISCONNECTED);
    EXPECT_EQ(h.state().access.accessible, nullptr);
    EXPECT_EQ(accessibleObjectsAlive(), 1);
    object->AddRef();
    object->Release();
    EXPECT_EQ(accessibleObjectsAlive(), 1);
    // Ours was the last reference.
    object.reset();
    EXPECT_EQ(accessibleObjectsAlive(), 0);
}

// Events seen by an out-of-context hook of this process.
std::vector<std::pair<DWORD, long>> seen;

void CALLBACK onEvent(HWINEVENTHOOK, DWORD event, HWND, LONG objectId, LONG childId, DWORD, DWORD) {
    if (objectId == OBJID_CLIENT) seen.push_back({event, childId});
}

struct EventCase {
    const char* what;
    Scene from;
    UINT message;  // what the worker posts
    bool error;
    std::vector<std::pair<DWORD, long>> events;  // in order, among others
};

// Each row fails on a missing event, one on the wrong child, or an alert
// where nothing failed.
const EventCase eventCases[] = {
    {"failure", {Screen::Working, SetupMode::Upgrade}, MsgFinished, true,
     {{EVENT_OBJECT_NAMECHANGE, 1}, {EVENT_OBJECT_FOCUS, 4}, {EVENT_SYSTEM_ALERT, 2}}},
    {"done", {Screen::Working, SetupMode::Install}, MsgFinished, false,
     {{EVENT_OBJECT_NAMECHANGE, 1}, {EVENT_OBJECT_FOCUS, 3}}},
    {"removed", {Screen::Working, SetupMode::Uninstall}, MsgFinished, false,
     {{EVENT_OBJECT_NAMECHANGE, 1}, {EVENT_OBJECT_FOCUS, 3}}},
    {"waiting for the app", {Screen::Working, SetupMode::Upgrade}, MsgWaitingForApp, false,
     {{EVENT_OBJECT_NAMECHANGE, 1}, {EVENT_OBJECT_FOCUS, 3}}},
};

TEST(WindowAnnouncements, ScreenChangesAndFailures) {
    for (const EventCase& c : eventCases) {
        FakeSteps fake;
        WindowHarness h(fake, c.from.mode, false);
        show(h, c.from);
        h.state().busy = true;
        HWINEVENTHOOK hook = SetWinEventHook(EVENT_MIN, EVENT_MAX, nullptr, onEvent,
                                             GetCurrentProcessId(), 0, WINEVENT_OUTOFCONTEXT);
        ASSERT_NE(hook, nullptr);
        seen.clear();
        auto* error = c.error ? new SetupError(makeError(L"QV-NET-5", true)) : nullptr;
        h.send(c.message, 0, reinterpret_cast<LPARAM>(error));
        h.pumpUntil([] { return false; }, 150);
        UnhookWinEvent(hook);
        size_t next = 0;
        for (const auto& event : seen)
            if (next < c.events.size() && event == c.events[next]) ++next;
        EXPECT_EQ(next, c.events.size()) << c.what << ": " << seen.size() << " events";
        bool alert = false;
        for (const auto& event : seen) alert = alert || event.first == EVENT_SYSTEM_ALERT;
        EXPECT_EQ(alert, c.error) << c.what;
        h.state().busy = false;
    }
}

// A bar that moves every tick is announced at most a few times a second,
// and each announcement says the value the bar shows.
TEST(WindowAnnouncements, ProgressIsThrottled) {
    ComApartment com;
    FakeSteps fake;
    WindowHarness h(fake, SetupMode::Upgrade, false);
    show(h, {Screen::Working, SetupMode::Upgrade});
    HWINEVENTHOOK hook = SetWinEventHook(EVENT_OBJECT_VALUECHANGE, EVENT_OBJECT_VALUECHANGE,
                                         nullptr, onEvent, GetCurrentProcessId(), 0,
                                         WINEVENT_OUTOFCONTEXT);
    ASSERT_NE(hook, nullptr);
    seen.clear();
    ULONGLONG start = GetTickCount64();
    for (int i = 1; i <= 40; ++i) {
        h.send(MsgProgress, static_cast<WPARAM>(i * 20));
        h.pumpUntil([] { return false; }, 50);
    }
    double seconds = static_cast<double>(GetTickCount64() - start) / 1000.0;
    UnhookWinEvent(hook);
    ASSERT_FALSE(seen.empty());
    EXPECT_LE(static_cast<double>(seen.size()), 2 * seconds + 1) << seconds << " s";
    EXPECT_EQ(seen.front().second, 3);  // the bar
    ComPtr<IAccessible> object = clientObject(h.state().window);
    BSTR value = nullptr;
    object->get_accValue(child(3), &value);
    EXPECT_EQ(takeString(value), formatText(L"%d %%", static_cast<int>(h.state().shownFraction * 100)));
}

// Without Tab nothing is focused and no ring is drawn; after Tab the ring
// moves to the new screen's primary button.
TEST(WindowFocus, RingFollowsTheScreen) {
    FakeSteps fake;
    WindowHarness h(fake, SetupMode::Upgrade, false);
    show(h, {Screen::Working, SetupMode::Upgrade});
    h.state().error = std::make_unique<SetupError>(makeError(L"QV-NET-5", false));
    setScreen(h.state(), Screen::Failed);
    EXPECT_FALSE(h.state().access.keyboardUsed);
    EXPECT_EQ(h.state().access.focusId, 0);
    pressKeys(h, "t");
    EXPECT_EQ(h.state().access.focusId, RowSecond);  // from "Copy details" on
    setScreen(h.state(), Screen::Removed);
    EXPECT_EQ(h.state().access.focusId, RowFirst);  // "Close", the primary
    setScreen(h.state(), Screen::ConfirmUninstall);
    EXPECT_EQ(h.state().access.focusId, RemoveDataBox);
}

// Keys as pressKeys takes them; x is Esc, which cancels a busy run.
void pressKeysOrCancel(WindowHarness& h, const std::string& keys) {
    for (char k : keys) {
        if (k == 'x') h.send(WM_KEYDOWN, VK_ESCAPE);
        else pressKeys(h, std::string(1, k));
    }
}

long stateOf(IAccessible& object, long id) {
    VARIANT state;
    VariantInit(&state);
    object.get_accState(child(id), &state);
    return state.lVal;
}

std::wstring nameOf(IAccessible& object, long id) {
    BSTR name = nullptr;
    object.get_accName(child(id), &name);
    return takeString(name);
}

// A window showing a scene, and its client object as a screen reader gets
// it; the steps end as end says.
struct Shown {
    explicit Shown(const Scene& scene, StepEnd end = StepEnd::Succeed) : h(fake, scene.mode, true) {
        fake.end = end;  // read when a step runs
        show(h, scene);
        object = clientObject(h.state().window);
    }
    FakeSteps fake;
    WindowHarness h;
    ComPtr<IAccessible> object;
};

struct FocusCase {
    const char* what;
    Scene scene;
    bool busy;         // a run is under way
    const char* keys;  // t Tab, s Shift+Tab, p Space, x Esc
    const wchar_t* focused;
};

const wchar_t box[] = L"Also delete settings, sign-in and chat history";

// Each row fails when no child or a second one reports FOCUSED, when it is
// not the one accFocus answers, when an unticked box reports CHECKED, or
// when the close button keeps the focus or the ring while a cancel runs.
const FocusCase focusCases[] = {
    {"welcome", {Screen::Welcome, SetupMode::Install}, false, "", L"Install"},
    {"welcome, tab", {Screen::Welcome, SetupMode::Install}, false, "t", L"Change install location"},
    {"welcome, shift+tab", {Screen::Welcome, SetupMode::Install}, false, "s", L"Close window"},
    {"working", {Screen::Working, SetupMode::Upgrade}, true, "", L"Progress"},
    {"working, tab", {Screen::Working, SetupMode::Upgrade}, true, "t", L"Minimise"},
    {"waiting for the app", {Screen::WaitingForApp, SetupMode::Upgrade}, true, "", L"Progress"},
    {"done", {Screen::Done, SetupMode::Install}, false, "", L"Progress"},
    {"failed, retryable", {Screen::Failed, SetupMode::Install, true}, false, "", L"Try again"},
    {"failed, retryable, tab", {Screen::Failed, SetupMode::Install, true}, false, "t", L"Copy details"},
    {"failed", {Screen::Failed, SetupMode::Uninstall}, false, "", L"Copy details"},
    {"failed, tab", {Screen::Failed, SetupMode::Uninstall}, false, "t", L"Close"},
    {"confirmation", {Screen::ConfirmUninstall, SetupMode::Uninstall}, false, "", box},
    {"confirmation, ticked", {Screen::ConfirmUninstall, SetupMode::Uninstall}, false, "p", box},
    {"confirmation, tab", {Screen::ConfirmUninstall, SetupMode::Uninstall}, false, "t", L"Uninstall"},
    {"confirmation, shift+tab", {Screen::ConfirmUninstall, SetupMode::Uninstall}, false, "s", L"Close window"},
    {"removed", {Screen::Removed, SetupMode::Uninstall}, false, "", L"Close"},
    {"cancel with the ring on close", {Screen::Working, SetupMode::Upgrade}, true, "ttx", L"Progress"},
    {"tab skips close while cancelling", {Screen::Working, SetupMode::Upgrade}, true, "xtt", L"Minimise"},
};

TEST(WindowFocus, ExactlyOneChildReportsFocus) {
    ComApartment com;
    for (const FocusCase& c : focusCases) {
        Shown shown(c.scene);
        WindowHarness& h = shown.h;
        ComPtr<IAccessible>& object = shown.object;
        ASSERT_TRUE(object) << c.what;
        h.state().busy = c.busy;
        pressKeysOrCancel(h, c.keys);
        long count = 0, focused = 0, reports = 0;
        object->get_accChildCount(&count);
        for (long i = 1; i <= count; ++i) {
            long bits = stateOf(*object.get(), i);
            if (bits & STATE_SYSTEM_FOCUSED) focused = i, ++reports;
            std::wstring name = nameOf(*object.get(), i);
            if (name == box) {
                EXPECT_EQ((bits & STATE_SYSTEM_CHECKED) != 0, h.state().removeDataChecked) << c.what;
            }
            bool cancelling = h.state().cancelRequested.load();
            if (name == L"Close window") {
                EXPECT_EQ(bits & (STATE_SYSTEM_UNAVAILABLE | STATE_SYSTEM_FOCUSABLE),
                          cancelling ? STATE_SYSTEM_UNAVAILABLE : STATE_SYSTEM_FOCUSABLE) << c.what;
            }
        }
        EXPECT_EQ(reports, 1) << c.what;
        EXPECT_EQ(nameOf(*object.get(), focused), c.focused) << c.what;
        VARIANT answer;
        ASSERT_EQ(object->get_accFocus(&answer), S_OK) << c.what;
        EXPECT_EQ(answer.lVal, focused) << c.what;
        if (*c.keys == '\0') {
            // What a screen reader speaks on a new screen: the focused
            // child's name and description, which carry the screen's text.
            BSTR description = nullptr;
            object->get_accDescription(child(focused), &description);
            std::wstring said = takeString(description);
            EXPECT_NE(said.find(nameOf(*object.get(), titleChild)), std::wstring::npos) << c.what;
            EXPECT_NE(said.find(nameOf(*object.get(), bodyChild)), std::wstring::npos) << c.what;
        }
        h.state().busy = false;
    }
}

// Hooks every event of this process while it lives; the callbacks arrive
// while the harness pumps.
struct EventWatch {
    EventWatch() : hook(SetWinEventHook(EVENT_MIN, EVENT_MAX, nullptr, onEvent,
                                        GetCurrentProcessId(), 0, WINEVENT_OUTOFCONTEXT)) {
        seen.clear();
    }
    ~EventWatch() { UnhookWinEvent(hook); }
    bool saw(DWORD event, long id) const {
        for (const auto& e : seen)
            if (e.first == event && e.second == id) return true;
        return false;
    }
    long lastFocus() const {
        long id = -1;
        for (const auto& e : seen)
            if (e.first == EVENT_OBJECT_FOCUS) id = e.second;
        return id;
    }
    HWINEVENTHOOK hook;
};

struct KeyEventCase {
    const char* what;
    Scene scene;
    const char* keys;
    const wchar_t* focused;
};

// Each row fails when a key moves the ring without a focus event, or the
// event names another child than the one that then reports FOCUSED.
const KeyEventCase keyEventCases[] = {
    {"welcome, tab", {Screen::Welcome, SetupMode::Install}, "t", L"Change install location"},
    {"welcome, tab tab", {Screen::Welcome, SetupMode::Install}, "tt", L"Minimise"},
    {"welcome, shift+tab", {Screen::Welcome, SetupMode::Install}, "s", L"Close window"},
    {"confirmation, tab", {Screen::ConfirmUninstall, SetupMode::Uninstall}, "t", L"Uninstall"},
    {"confirmation, tab tab", {Screen::ConfirmUninstall, SetupMode::Uninstall}, "tt", L"Cancel"},
    {"confirmation, shift+tab", {Screen::ConfirmUninstall, SetupMode::Uninstall}, "s", L"Close window"},
    {"failed, tab", {Screen::Failed, SetupMode::Upgrade, true}, "t", L"Copy details"},
    {"failed, tab tab", {Screen::Failed, SetupMode::Upgrade, true}, "tt", L"Close"},
    {"failed, shift+tab", {Screen::Failed, SetupMode::Upgrade, true}, "s", L"Close window"},
    {"working, tab", {Screen::Working, SetupMode::Upgrade}, "t", L"Minimise"},
    {"working, tab tab", {Screen::Working, SetupMode::Upgrade}, "tt", L"Close window"},
    {"working, shift+tab", {Screen::Working, SetupMode::Upgrade}, "s", L"Close window"},
    {"removed, tab", {Screen::Removed, SetupMode::Uninstall}, "t", L"Minimise"},
    {"removed, shift+tab", {Screen::Removed, SetupMode::Uninstall}, "s", L"Close window"},
};

TEST(WindowFocus, KeysRaiseTheFocusEvent) {
    ComApartment com;
    for (const KeyEventCase& c : keyEventCases) {
        Shown shown(c.scene);
        WindowHarness& h = shown.h;
        ComPtr<IAccessible>& object = shown.object;
        ASSERT_TRUE(object) << c.what;
        long want = childNamed(*object.get(), c.focused);
        EventWatch watch;
        pressKeys(h, c.keys);
        h.pumpUntil([] { return false; }, 100);
        EXPECT_EQ(watch.lastFocus(), want) << c.what;
        EXPECT_NE(stateOf(*object.get(), want) & STATE_SYSTEM_FOCUSED, 0) << c.what;
    }
}

struct BeforeTabCase {
    const char* what;
    Scene scene;
    WPARAM key;
    const wchar_t* acting;  // the child whose action the key runs
    long reports;           // what that child says of itself beforehand
    Effect effect;
};

// Each row fails when a key before Tab acts on another child than the one
// a screen reader was told has the focus or is the default.
const BeforeTabCase beforeTabCases[] = {
    {"confirmation, space", {Screen::ConfirmUninstall, SetupMode::Uninstall}, VK_SPACE, box,
     STATE_SYSTEM_FOCUSED, Effect::Toggles},
    {"confirmation, enter", {Screen::ConfirmUninstall, SetupMode::Uninstall}, VK_RETURN, L"Uninstall",
     STATE_SYSTEM_DEFAULT, Effect::Runs},
    {"failed, enter", {Screen::Failed, SetupMode::Upgrade}, VK_RETURN, L"Copy details",
     STATE_SYSTEM_FOCUSED | STATE_SYSTEM_DEFAULT, Effect::Copies},
    {"failed, retryable, enter", {Screen::Failed, SetupMode::Upgrade, true}, VK_RETURN, L"Try again",
     STATE_SYSTEM_FOCUSED | STATE_SYSTEM_DEFAULT, Effect::Runs},
    {"welcome, enter", {Screen::Welcome, SetupMode::Install}, VK_RETURN, L"Install",
     STATE_SYSTEM_FOCUSED | STATE_SYSTEM_DEFAULT, Effect::Runs},
};

TEST(WindowFocus, KeyBeforeTabActsOnTheReportedChild) {
    ComApartment com;
    for (const BeforeTabCase& c : beforeTabCases) {
        Shown shown(c.scene, StepEnd::UntilReleased);
        WindowHarness& h = shown.h;
        ComPtr<IAccessible>& object = shown.object;
        ASSERT_TRUE(object) << c.what;
        long acting = childNamed(*object.get(), c.acting);
        EXPECT_EQ(stateOf(*object.get(), acting) & c.reports, c.reports) << c.what;
        h.send(WM_KEYDOWN, c.key);
        checkEffect(h, shown.fake, c.effect, c.what);
    }
}

struct ActionCase {
    const char* what;
    Scene scene;
    void (*act)(WindowHarness&, IAccessible&);
    DWORD event;
    const wchar_t* child;  // named as it is after the action
};

// Each row fails when a change a screen reader speaks raises no event, or
// raises it for another child.
const ActionCase actionCases[] = {
    {"space ticks the box", {Screen::ConfirmUninstall, SetupMode::Uninstall},
     [](WindowHarness& h, IAccessible&) { h.send(WM_KEYDOWN, VK_SPACE); },
     EVENT_OBJECT_STATECHANGE, box},
    {"a click unticks it", {Screen::ConfirmUninstall, SetupMode::Uninstall, false, true},
     [](WindowHarness& h, IAccessible&) { click(h.state(), RemoveDataBox); },
     EVENT_OBJECT_STATECHANGE, box},
    {"copy", {Screen::Failed, SetupMode::Upgrade},
     [](WindowHarness& h, IAccessible&) { h.send(WM_KEYDOWN, VK_RETURN); },
     EVENT_OBJECT_NAMECHANGE, L"Copied"},
    {"copied turns back", {Screen::Failed, SetupMode::Upgrade, true},
     [](WindowHarness& h, IAccessible&) {
         h.state().copiedAt = GetTickCount64() - 5000;
         resetCopiedLabel(h.state());
     },
     EVENT_OBJECT_NAMECHANGE, L"Copy details"},
    {"accSelect takes the focus", {Screen::Welcome, SetupMode::Install},
     [](WindowHarness&, IAccessible& object) {
         object.accSelect(SELFLAG_TAKEFOCUS, child(childNamed(object, L"Minimise")));
     },
     EVENT_OBJECT_FOCUS, L"Minimise"},
    {"a cancel moves the focus off close", {Screen::Working, SetupMode::Upgrade},
     [](WindowHarness& h, IAccessible&) {
         h.state().busy = true;
         pressKeys(h, "tt");
         seen.clear();
         h.send(WM_KEYDOWN, VK_ESCAPE);
     },
     EVENT_OBJECT_FOCUS, L"Progress"},
    {"a cancel disables close", {Screen::Working, SetupMode::Upgrade},
     [](WindowHarness& h, IAccessible&) {
         h.state().busy = true;
         h.send(WM_KEYDOWN, VK_ESCAPE);
     },
     EVENT_OBJECT_STATECHANGE, L"Close window"},
};

TEST(WindowAnnouncements, ActionsRaiseTheirEvents) {
    ComApartment com;
    for (const ActionCase& c : actionCases) {
        Shown shown(c.scene);
        WindowHarness& h = shown.h;
        ComPtr<IAccessible>& object = shown.object;
        ASSERT_TRUE(object) << c.what;
        EventWatch watch;
        c.act(h, *object.get());
        // Named before pumping: a slow first paint may outlast "Copied".
        long changed = childNamed(*object.get(), c.child);
        h.pumpUntil([] { return false; }, 100);
        EXPECT_TRUE(watch.saw(c.event, changed)) << c.what << ": " << seen.size() << " events";
        h.state().busy = false;
    }
}

// The first screen is laid out while the window is hidden: its focus event
// must come once the window shows and has the focus, and again when the
// focus comes back to it (after Alt+Tab).
TEST(WindowAnnouncements, FocusEventOnceShownAndOnReturn) {
    ComApartment com;
    FakeSteps fake;
    WindowHarness h(fake, SetupMode::Install, true);
    EventWatch watch;
    show(h, {Screen::Welcome, SetupMode::Install}, true);
    h.pumpUntil([] { return false; }, 100);
    EXPECT_EQ(watch.lastFocus(), -1) << "a focus event for a hidden window";
    // Without the keyboard focus no child claims it.
    ComPtr<IAccessible> object = clientObject(h.state().window);
    ASSERT_TRUE(object);
    EXPECT_EQ(stateOf(*object.get(), 3) & STATE_SYSTEM_FOCUSED, 0);
    VARIANT focus;
    EXPECT_EQ(object->get_accFocus(&focus), S_FALSE);
    ShowWindow(h.state().window, SW_SHOW);
    SetFocus(h.state().window);
    h.pumpUntil([] { return false; }, 100);
    EXPECT_EQ(watch.lastFocus(), 3) << "Install";
    SetFocus(nullptr);
    seen.clear();
    SetFocus(h.state().window);
    h.pumpUntil([] { return false; }, 100);
    EXPECT_EQ(watch.lastFocus(), 3) << "Install, after the focus came back";
}

bool contrastOn() { return true; }

// One frame into a bitmap of the window's size; the pixel at a client
// point.
struct Frame {
    explicit Frame(WindowState& state) {
        RECT client{};
        GetClientRect(state.window, &client);
        HDC screen = GetDC(nullptr);
        dc.reset(CreateCompatibleDC(screen));
        bitmap.reset(CreateCompatibleBitmap(screen, client.right, client.bottom));
        ReleaseDC(nullptr, screen);
        SelectObject(dc.get(), bitmap.get());
        paint(state, dc.get());
    }
    COLORREF at(float x, float y) const {
        return GetPixel(dc.get(), static_cast<int>(x), static_cast<int>(y));
    }
    MemoryDc dc;
    GdiObject bitmap;
};

const WindowButton* buttonOf(const WindowState& state, int32_t id) {
    for (const WindowButton& b : state.buttons)
        if (b.id == id) return &b;
    return nullptr;
}

// The link's line in a high-contrast frame: in the theme's link colour and
// underlined, which shows as a long run of that colour in one pixel row.
void checkLink(const WindowState& state, const Frame& frame, const char* what) {
    const WindowButton* link = buttonOf(state, FolderLink);
    ASSERT_TRUE(link) << what;
    COLORREF colour = GetSysColor(COLOR_HOTLIGHT);
    int pixels = 0, longest = 0;
    for (int y = static_cast<int>(link->y); y < static_cast<int>(link->y + link->height); ++y) {
        int run = 0;
        for (int x = 0; x < 440; ++x) {
            run = frame.at(static_cast<float>(x), static_cast<float>(y)) == colour ? run + 1 : 0;
            pixels += run > 0;
            longest = std::max(longest, run);
        }
    }
    EXPECT_GT(pixels, 40) << what << ": link not in COLOR_HOTLIGHT";
    EXPECT_GT(longest, 60) << what << ": link not underlined";
}

// The theme is read at creation and again when the settings change; the
// frame then shows the system colours, and the standard one comes back.
TEST(WindowContrast, SystemColoursWhileOn) {
    FakeSteps fake;
    WindowHarness h(fake, SetupMode::Install, true);
    show(h, {Screen::Welcome, SetupMode::Install});
    const WindowButton* install = nullptr;
    for (const WindowButton& b : h.state().buttons)
        if (b.id == RowFirst) install = &b;
    ASSERT_TRUE(install);
    float px = install->x + 10, py = install->y + install->height / 2;
    COLORREF top = Frame(h.state()).at(8, 4);
    EXPECT_LE(GetBValue(top) - GetRValue(top), 8) << "the dark gradient";
    EXPECT_LT(GetRValue(top), 0x20);
    HighContrastQuery saved = highContrastQuery();
    highContrastQuery() = contrastOn;
    h.send(WM_SETTINGCHANGE, SPI_SETHIGHCONTRAST);
    highContrastQuery() = saved;
    ASSERT_TRUE(h.state().access.highContrast);
    {
        Frame frame(h.state());
        EXPECT_EQ(frame.at(8, 4), GetSysColor(COLOR_WINDOW));
        EXPECT_EQ(frame.at(8, 330), GetSysColor(COLOR_WINDOW));  // no gradient
        EXPECT_EQ(frame.at(220 - 64, 112), GetSysColor(COLOR_WINDOW));  // no glow
        EXPECT_EQ(frame.at(px, py), GetSysColor(COLOR_HIGHLIGHT));
        checkLink(h.state(), frame, "before Tab");
    }
    pressKeys(h, "t");
    ASSERT_EQ(h.state().access.focusId, FolderLink);
    {
        Frame frame(h.state());
        checkLink(h.state(), frame, "with the ring on it");
        const WindowButton* link = buttonOf(h.state(), FolderLink);
        ASSERT_TRUE(link);
        // The install path, wider than the link's text, shows as on hover.
        int path = 0;
        for (float x = 24; x < link->x - 8; ++x)
            path += frame.at(x, link->y + link->height / 2) == GetSysColor(COLOR_HOTLIGHT) ||
                    frame.at(x, link->y + link->height / 2 - 2) == GetSysColor(COLOR_HOTLIGHT);
        EXPECT_GT(path, 3) << "no install path with the ring on the link";
        // The ring's top edge, 3 pixels above the link, 2 wide.
        bool ring = false;
        for (float y = link->y - 5; y <= link->y - 1; ++y)
            ring = ring || frame.at(link->x + link->width / 2, y) == GetSysColor(COLOR_WINDOWTEXT);
        EXPECT_TRUE(ring) << "ring not in the window text colour";
    }
    h.send(WM_THEMECHANGED);
    EXPECT_FALSE(h.state().access.highContrast);
    COLORREF accent = Frame(h.state()).at(px, py);
    EXPECT_GT(GetRValue(accent), 0xE0);
    EXPECT_LT(GetBValue(accent), 0x40);
}

// While a cancel runs the close button does nothing, and looks it: its
// glyph is dimmed in the standard frame too, not only in high contrast.
TEST(WindowContrast, CloseDimmedWhileCancelling) {
    FakeSteps fake;
    WindowHarness h(fake, SetupMode::Upgrade, false);
    show(h, {Screen::Working, SetupMode::Upgrade}, true);
    const WindowButton* close = buttonOf(h.state(), CloseButton);
    ASSERT_TRUE(close);
    float cx = close->x + close->width / 2, cy = close->y + close->height / 2;
    h.state().busy = true;
    COLORREF before = Frame(h.state()).at(cx, cy);
    h.send(WM_KEYDOWN, VK_ESCAPE);
    COLORREF after = Frame(h.state()).at(cx, cy);
    h.state().busy = false;
    EXPECT_GT(GetRValue(before), 0x60);
    EXPECT_LT(GetRValue(after), 0x50);
}

// The window moved to a monitor of twice the scale. Wine cannot change a
// monitor's scale, so the test sends WM_DPICHANGED as the system would;
// fails when the fonts, the button boxes, the window's rectangle or the
// accessible positions stay at the old scale.
TEST(WindowDpi, ChangedScaleLaysOutAgain) {
    ComApartment com;
    FakeSteps fake;
    WindowHarness h(fake, SetupMode::Install, true);
    show(h, {Screen::Welcome, SetupMode::Install});
    RECT suggested{100, 40, 100 + 880, 40 + 680};
    h.send(WM_DPICHANGED, MAKEWPARAM(192, 192), reinterpret_cast<LPARAM>(&suggested));
    WindowState& s = h.state();
    EXPECT_EQ(s.dpi, 192);
    RECT window{};
    GetWindowRect(s.window, &window);
    EXPECT_TRUE(EqualRect(&window, &suggested));
    EXPECT_NEAR(s.titleFont->GetSize(), 38, 0.5);
    EXPECT_NEAR(s.smallFont->GetSize(), 24, 0.5);
    const WindowButton* install = buttonOf(s, RowFirst);
    ASSERT_TRUE(install);
    EXPECT_NEAR(install->y, 496, 0.5);
    EXPECT_GE(install->width, 256);
    ComPtr<IAccessible> object = clientObject(s.window);
    ASSERT_TRUE(object);
    long x = 0, y = 0, w = 0, height = 0;
    ASSERT_EQ(object->accLocation(&x, &y, &w, &height, child(titleChild)), S_OK);
    EXPECT_EQ(x - window.left, 48);
    EXPECT_EQ(y - window.top, 372);
    EXPECT_EQ(w, 784);
    VARIANT hit;
    long installChild = childNamed(*object.get(), L"Install");
    ASSERT_EQ(object->accHitTest(window.left + static_cast<long>(install->x + install->width / 2),
                                 window.top + static_cast<long>(install->y + 18), &hit),
              S_OK);
    EXPECT_EQ(hit.lVal, installChild);
}

// The window opens at the scale of its monitor, or at the system's where
// the system cannot tell; fails when creation keeps the system dpi.
TEST(WindowDpi, OpensAtItsMonitorsScale) {
    struct Case {
        UINT monitor;
        int32_t dpi;
    };
    static UINT answer = 0;
    for (Case c : {Case{0, 96}, Case{144, 144}, Case{192, 192}}) {
        SeamsRestorer restore;
        answer = c.monitor;
        windowSeams().monitorDpi = [](POINT) { return answer; };
        FakeSteps fake;
        WindowHarness h(fake, SetupMode::Install, true);
        show(h, {Screen::Welcome, SetupMode::Install});
        RECT window{};
        GetWindowRect(h.state().window, &window);
        EXPECT_EQ(h.state().dpi, c.dpi) << c.monitor;
        EXPECT_EQ(window.right - window.left, 440 * c.dpi / 96) << c.monitor;
        EXPECT_NEAR(h.state().titleFont->GetSize(), 19.0 * c.dpi / 96, 0.5) << c.monitor;
    }
}

// Screen readers read a dialog's text when it opens; the window object
// says it is one. Wine's annotation service takes no properties.
TEST(WindowAccessible, WindowObjectIsADialog) {
    ComApartment com;
    FakeSteps fake;
    WindowHarness h(fake, SetupMode::Install, true);
    show(h, {Screen::Welcome, SetupMode::Install});
    HRESULT annotated = describeAsDialog(h.state().window);
    if (annotated == E_NOTIMPL) GTEST_SKIP() << "IAccPropServices::SetHwndProp is not implemented";
    ASSERT_EQ(annotated, S_OK);
    ComPtr<IAccessible> object;
    ASSERT_EQ(AccessibleObjectFromWindow(h.state().window, static_cast<DWORD>(OBJID_WINDOW),
                                         accessibleIid, object.putVoid()),
              S_OK);
    VARIANT role;
    ASSERT_EQ(object->get_accRole(child(CHILDID_SELF), &role), S_OK);
    EXPECT_EQ(role.lVal, ROLE_SYSTEM_DIALOG);
}

}  // namespace
}  // namespace qv::test
