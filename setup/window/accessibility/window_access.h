// What the window adds for screen readers, the keyboard and high-contrast
// themes. None of it shows until Tab is pressed, an accessibility client
// asks for the window's objects, or a high-contrast theme is on.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace qv {

struct WindowState;
class WindowAccessible;

struct AccessState {
    bool keyboardUsed = false;  // Tab was pressed: the focus ring is drawn
    int32_t focusId = 0;        // the button id with the ring; 0 none
    bool highContrast = false;  // draw with the system colours
    // Made on the first WM_GETOBJECT; one reference, dropped and cut off
    // from the state when the window goes.
    WindowAccessible* accessible = nullptr;
    // What the last progress announcement said, and when.
    uint64_t announcedAt = 0;
    std::wstring announcedValue, announcedBody;
};

// Posted to the window by accDoDefaultAction: wParam is the button id.
// The press runs from the message loop, not inside the client's call, so
// that a folder dialog does not hold a screen reader's call open.
constexpr UINT MsgAccessiblePress = WM_APP + 20;

// WM_GETOBJECT, the theme and setting changes, MsgAccessiblePress and the
// window's end. True when the message is answered (result set).
bool handleAccessMessage(WindowState& state, UINT message, WPARAM wParam, LPARAM lParam,
                         LRESULT& result);
// After every screen change: the ring to the new screen's first focus,
// the events.
void screenChanged(WindowState& state);
// Tells clients that the button's name or state changed (event is
// EVENT_OBJECT_NAMECHANGE or EVENT_OBJECT_STATECHANGE).
void buttonChanged(WindowState& state, int32_t buttonId, DWORD event);
// A cancel began: the close button is unavailable now, and the focus
// leaves it when it was there.
void cancelStarted(WindowState& state);
// Raises the focus event for the child that has the focus, when the
// window shows and has the keyboard focus; otherwise a client would hear
// of an object it cannot reach.
void announceFocus(WindowState& state);
// Timer 1: value and status announcements, at most twice a second.
void announceProgress(WindowState& state);
// Tab, Shift+Tab, and Space or Enter once Tab was pressed; false for keys
// that keep their usual meaning.
bool focusKey(WindowState& state, WPARAM key, bool shift);
// The button ids Tab walks through on the screen showing, in the order
// they are drawn; a button that is unavailable is left out.
std::vector<int32_t> focusOrder(const WindowState& state);
// Whether Tab can bring the focus to the button on the screen showing.
bool takesFocus(const WindowState& state, int32_t buttonId);
// The button that has the focus: the ring's, else the screen's first
// focus (initialFocusButton); 0 none.
int32_t focusedButton(const WindowState& state);
// The child a screen reader is told has the focus: the focused button's,
// else the progress bar's, else CHILDID_SELF. Exactly this child reports
// STATE_SYSTEM_FOCUSED while the window has the keyboard focus.
long focusedChild(const WindowState& state);

// Whether a high-contrast theme is on. Tests and the window driver replace
// the query; the real one asks SPI_GETHIGHCONTRAST.
using HighContrastQuery = bool (*)();
HighContrastQuery& highContrastQuery();
bool systemHighContrast();
// Reads the theme again and repaints when it changed.
void refreshHighContrast(WindowState& state);

}  // namespace qv
