// The mirrored layout of right-to-left languages: every box flipped about
// the window's vertical centre line, so that the buttons, the title-bar
// buttons, the check box and the progress bar's fill run from the right,
// and the accessible objects (which report the same boxes) follow.
#pragma once

#include "setup/window/screens/window_state.h"

namespace qv {

bool readsRightToLeft(const WindowState& state);
// box flipped about the centre of a window W wide when the language reads
// right to left; box itself otherwise.
Gdiplus::RectF mirrored(const WindowState& state, float W, const Gdiplus::RectF& box);
// Flips every entry of the button list (the bottom row and title bar).
void mirrorButtons(WindowState& state, float W);

// The check box and its label inside the check-box row: the box comes
// first in reading order, the label after a gap.
struct CheckRow {
    Gdiplus::RectF box;
    Gdiplus::RectF label;
};
CheckRow checkRowParts(const WindowState& state, const Gdiplus::RectF& row, float labelWidth);

}  // namespace qv
