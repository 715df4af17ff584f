// Text that always fits: a body text that needs more lines than its box
// holds makes the box taller, moves everything below it down by as much,
// and makes the window taller.
#pragma once

#include "setup/window/screens/window_state.h"

namespace qv {

// Measures the screen's body text as the drawing lays it out and sets
// bodyGrowth; resizes the window when its height no longer matches.
void fitBody(WindowState& state, Gdiplus::Graphics& graphics);

// A y position below the body (logical pixels), in client pixels.
float belowBody(const WindowState& state, float logicalY);

// The font and wrapping the drawing uses for the screen's body text.
const Gdiplus::Font* bodyFont(const WindowState& state);
bool bodyWraps(const WindowState& state);

// The window's client height for the current growth.
int windowHeight(const WindowState& state);

}  // namespace qv
