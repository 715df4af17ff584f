// The screen's parts as an accessibility client sees them: role, name and
// box, built from the same layout the drawing and the hit test use.
#pragma once

#include "setup/window/screens/window_state.h"

#include <string>
#include <vector>

namespace qv {

struct AccessibleItem {
    long role = 0;       // ROLE_SYSTEM_*
    std::wstring name;
    Gdiplus::RectF box;  // client pixels
    int32_t buttonId = 0;  // the button record behind it; 0 for texts and the bar
};

// In reading order: the title, the body, the error code line, the progress
// bar, then the buttons in the order buttonsInOrder gives. Child id n of
// the client object is entry n - 1. The title is always child 1 and the
// body child 2 (named "" while a progress screen has no status yet), so
// that the ids after them do not move while a screen shows.
std::vector<AccessibleItem> accessibleItems(const WindowState& state);
constexpr long titleChild = 1;
constexpr long bodyChild = 2;
// The screen's buttons, link and check box as they are drawn: top to
// bottom, then left to right; minimise and close last.
std::vector<WindowButton> buttonsInOrder(const WindowState& state);
// False for the close button while a cancel is under way, since a second
// close then does nothing; true for every other button.
bool buttonEnabled(const WindowState& state, int32_t buttonId);
// The child id of the button id on the screen showing; 0 when it has none.
long childIdOfButton(const WindowState& state, int32_t buttonId);
// The bar's value as "42 %"; empty while it shows no number.
std::wstring progressValue(const WindowState& state);
// The button that Enter presses on the screen: the primary one; 0 none.
int32_t primaryButton(const WindowState& state);
// Where the keyboard focus sits on a new screen until Tab moves it: the
// check box on the confirmation (Space ticks it, Enter still presses the
// primary button), else the primary button; 0 on the progress screens.
int32_t initialFocusButton(const WindowState& state);
// Whether the folder's full path shows in place of the link: while the
// mouse or the focus ring is on it.
bool showsFolderPath(const WindowState& state);

}  // namespace qv
