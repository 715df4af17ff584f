// The keyboard focus ring, the announcements and the high-contrast switch.
#include "setup/window/accessibility/window_access.h"

#include "setup/window/accessibility/window_accessible.h"
#include "setup/window/screens/window_input.h"
#include "setup/window/screens/window_items.h"
#include "setup/window/drawing/window_layout.h"
#include "setup/window/screens/window_state.h"

#include <oleacc.h>

#include <algorithm>

namespace qv {
namespace {

// Screen readers queue every value change; a bar that moves 30 times a
// second would drown the speech.
constexpr uint64_t announceGapMs = 500;

void notify(const WindowState& state, DWORD event, long child) {
    if (state.window) NotifyWinEvent(event, state.window, OBJID_CLIENT, child);
}

bool hasButton(const WindowState& state, int32_t id) {
    return std::any_of(state.buttons.begin(), state.buttons.end(),
                       [id](const WindowButton& b) { return b.id == id; });
}

long progressChild(const WindowState& state) {
    std::vector<AccessibleItem> items = accessibleItems(state);
    for (size_t i = 0; i < items.size(); ++i)
        if (items[i].role == ROLE_SYSTEM_PROGRESSBAR) return static_cast<long>(i + 1);
    return 0;
}

// Tab goes on from where the focus is, whether or not the ring showed yet,
// as in a dialog: the first Tab leaves the first focus for the next item.
void moveFocus(WindowState& state, bool backwards) {
    std::vector<int32_t> order = focusOrder(state);
    if (order.empty()) return;
    auto at = std::find(order.begin(), order.end(), focusedButton(state));
    size_t n = order.size();
    size_t next;
    if (at == order.end()) {
        next = backwards ? n - 1 : 0;
    } else {
        size_t i = static_cast<size_t>(at - order.begin());
        next = backwards ? (i + n - 1) % n : (i + 1) % n;
    }
    state.access.keyboardUsed = true;
    state.access.focusId = order[next];
    repaint(state);
    announceFocus(state);
}

// Enter on the check box presses the primary button, as a dialog's default
// button takes Enter from a check box; Space ticks it.
void pressFocused(WindowState& state, WPARAM key) {
    int32_t id = state.access.focusId;
    if (key == VK_RETURN && id == RemoveDataBox) id = primaryButton(state);
    if (id != 0) click(state, id);
}

void pressFromClient(WindowState& state, WPARAM id, LPARAM screen) {
    // The screen may have changed since the client asked.
    if (static_cast<Screen>(screen) != state.screen) return;
    if (hasButton(state, static_cast<int32_t>(id))) click(state, static_cast<int32_t>(id));
}

}  // namespace

std::vector<int32_t> focusOrder(const WindowState& state) {
    std::vector<int32_t> order;
    for (const WindowButton& button : buttonsInOrder(state))
        if (buttonEnabled(state, button.id)) order.push_back(button.id);
    return order;
}

bool takesFocus(const WindowState& state, int32_t buttonId) {
    std::vector<int32_t> order = focusOrder(state);
    return std::find(order.begin(), order.end(), buttonId) != order.end();
}

int32_t focusedButton(const WindowState& state) {
    if (state.access.keyboardUsed && takesFocus(state, state.access.focusId))
        return state.access.focusId;
    return initialFocusButton(state);
}

long focusedChild(const WindowState& state) {
    if (long child = childIdOfButton(state, focusedButton(state))) return child;
    if (long child = progressChild(state)) return child;
    return CHILDID_SELF;
}

bool focusKey(WindowState& state, WPARAM key, bool shift) {
    if (key == VK_TAB) {
        moveFocus(state, shift);
        return true;
    }
    if (key != VK_RETURN && key != VK_SPACE) return false;
    if (!state.access.keyboardUsed || !takesFocus(state, state.access.focusId)) return false;
    pressFocused(state, key);
    return true;
}

void announceFocus(WindowState& state) {
    if (!state.window || !IsWindowVisible(state.window) || GetFocus() != state.window) return;
    NotifyWinEvent(EVENT_OBJECT_FOCUS, state.window, OBJID_CLIENT, focusedChild(state));
}

void screenChanged(WindowState& state) {
    if (state.access.keyboardUsed) state.access.focusId = initialFocusButton(state);
    state.access.announcedBody = bodyText(state);
    state.access.announcedValue = progressValue(state);
    state.access.announcedAt = GetTickCount64();
    if (!state.window) return;
    notify(state, EVENT_OBJECT_REORDER, CHILDID_SELF);
    notify(state, EVENT_OBJECT_NAMECHANGE, titleChild);
    announceFocus(state);
    if (state.screen == Screen::Failed) notify(state, EVENT_SYSTEM_ALERT, bodyChild);
}

void buttonChanged(WindowState& state, int32_t buttonId, DWORD event) {
    if (long child = childIdOfButton(state, buttonId)) notify(state, event, child);
}

void cancelStarted(WindowState& state) {
    buttonChanged(state, CloseButton, EVENT_OBJECT_STATECHANGE);
    if (state.access.keyboardUsed && state.access.focusId == CloseButton) {
        state.access.focusId = initialFocusButton(state);
        announceFocus(state);
    }
}

void announceProgress(WindowState& state) {
    if (!state.window || !showsProgress(state)) return;
    uint64_t now = GetTickCount64();
    if (now - state.access.announcedAt < announceGapMs) return;
    std::wstring value = progressValue(state), body = bodyText(state);
    if (value == state.access.announcedValue && body == state.access.announcedBody) return;
    if (value != state.access.announcedValue) notify(state, EVENT_OBJECT_VALUECHANGE, progressChild(state));
    if (body != state.access.announcedBody) notify(state, EVENT_OBJECT_NAMECHANGE, bodyChild);
    state.access.announcedValue = value;
    state.access.announcedBody = body;
    state.access.announcedAt = now;
}

bool systemHighContrast() {
    HIGHCONTRASTW contrast{};
    contrast.cbSize = sizeof(contrast);
    if (!SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof(contrast), &contrast, 0)) return false;
    return (contrast.dwFlags & HCF_HIGHCONTRASTON) != 0;
}

HighContrastQuery& highContrastQuery() {
    static HighContrastQuery query = systemHighContrast;
    return query;
}

void refreshHighContrast(WindowState& state) {
    bool on = highContrastQuery()();
    if (on == state.access.highContrast) return;
    state.access.highContrast = on;
    repaint(state);
}

bool handleAccessMessage(WindowState& state, UINT message, WPARAM wParam, LPARAM lParam,
                         LRESULT& result) {
    switch (message) {
    case WM_GETOBJECT:
        if (static_cast<LONG>(lParam) != OBJID_CLIENT) return false;
        result = accessibleObjectResult(state, wParam);
        return result != 0;
    case MsgAccessiblePress:
        pressFromClient(state, wParam, lParam);
        result = 0;
        return true;
    case WM_CREATE:
        state.access.highContrast = highContrastQuery()();
        describeAsDialog(state.window);
        return false;
    case WM_SETTINGCHANGE:
    case WM_THEMECHANGED:
        refreshHighContrast(state);
        return false;
    case WM_SYSCOLORCHANGE:
        // High-contrast frames are drawn in the system colours.
        if (state.access.highContrast) repaint(state);
        return false;
    case WM_SETFOCUS:
        // After showing and after Alt+Tab back: the system's own focus
        // event names only the window, not what has the focus inside it.
        announceFocus(state);
        return false;
    case WM_DESTROY:
        forgetDialogRole(state.window);
        return false;
    case WM_NCDESTROY:
        disconnectAccessible(state);
        return false;
    default:
        return false;
    }
}

}  // namespace qv
