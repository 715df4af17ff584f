// The frame drawn while a high-contrast theme is on, and the keyboard focus
// ring that both kinds of frame show once Tab was pressed.
#pragma once

#include "setup/window/screens/window_state.h"

namespace qv {

// A system colour (COLOR_*) as an opaque GDI+ colour.
Gdiplus::ARGB systemColour(int index);
// Everything but the border, in the system colours: no gradient, no glow,
// no shimmer; the same boxes as the standard frame. W is the client width,
// t the animation time in seconds.
void paintHighContrast(Gdiplus::Graphics& graphics, WindowState& state, float W, double t);
// The ring around the focused button, only once Tab was pressed.
void drawFocusRing(Gdiplus::Graphics& graphics, const WindowState& state);

}  // namespace qv
