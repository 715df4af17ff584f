// The screen's parts as an accessibility client sees them: role, name and
// box, built from the same layout the drawing and the hit test use.
#pragma once

#include "window_state.h"

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
// bar, then the buttons by id (the row, the link, the check box, minimise,
// close). Child id n of the client object is entry n - 1.
std::vector<AccessibleItem> accessibleItems(const WindowState& state);
// The child id of the button id on the screen showing; 0 when it has none.
long childIdOfButton(const WindowState& state, int32_t buttonId);
// The bar's value as "42 %"; empty while it shows no number.
std::wstring progressValue(const WindowState& state);
// The button that Enter presses on the screen: the primary one; 0 none.
int32_t primaryButton(const WindowState& state);

}  // namespace qv
