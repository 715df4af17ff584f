// How the setup window looks: its creation at the system DPI and its
// changes of scale, the button layout of each screen, one painted frame
// and the animation tick.
#pragma once

#include "setup/window/screens/window_state.h"

#include <string>

namespace qv {

// The palette.
namespace palette {
constexpr Gdiplus::ARGB BackgroundTop = 0xFF18181D;
constexpr Gdiplus::ARGB BackgroundBottom = 0xFF09090B;
constexpr Gdiplus::ARGB TextColor = 0xFFEDEDEF;
constexpr Gdiplus::ARGB BodyColor = 0xFFA1A1AA;
constexpr Gdiplus::ARGB MutedColor = 0xFF71717A;
constexpr Gdiplus::ARGB TrackColor = 0xFF26262C;
constexpr Gdiplus::ARGB AccentColor = 0xFFF5A524;
constexpr Gdiplus::ARGB AccentLight = 0xFFFBBF24;
constexpr Gdiplus::ARGB AccentDark = 0xFFEA7A0C;
constexpr Gdiplus::ARGB ErrorColor = 0xFFF87171;
constexpr Gdiplus::ARGB ButtonColor = 0xFF1D1D22;
constexpr Gdiplus::ARGB ButtonHoverColor = 0xFF26262C;
constexpr Gdiplus::ARGB DisabledColor = 0xFF3F3F46;
}  // namespace palette

// Starts GDI+, reads the DPI, loads the logo and fonts, registers the class
// and creates the (hidden) window with its animation timer. False when the
// window could not be created; the state then has no window.
bool createWindow(WindowState& state);
// WM_DPICHANGED: the window moved to a monitor of another scale, or the
// scale changed. Makes the fonts and the layout again at dpi and gives the
// window the suggested rectangle (screen pixels).
void applyDpi(WindowState& state, int32_t dpi, const RECT& suggested);
// Releases the logo and fonts and shuts GDI+ down; safe to call twice.
void releaseDrawing(WindowState& state);

// Logical pixels to client pixels at the state's DPI.
float scaled(const WindowState& state, float logical);

// Rebuilds the bottom row and the title-bar buttons for the screen.
void layoutButtons(WindowState& state);
// "Copied" for 1.6 s after a copy, else "Copy details".
std::wstring copyLabel(const WindowState& state);
std::wstring screenTitle(const WindowState& state);
// The line under the title on the progress screens.
std::wstring progressLine(const WindowState& state);

// One frame into dc, double-buffered.
void paint(WindowState& state, HDC dc);
// Timer 1: eases the bar, resets the copy label, repaints what moves.
void animationTick(WindowState& state);
// Whether a tick repaints: false when minimised and on the still screens
// unless the copy label is showing or was just reset.
bool tickRepaints(const WindowState& state);

}  // namespace qv
