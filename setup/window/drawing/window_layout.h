// Where each part of a screen sits, in client pixels: the boxes the
// drawing paints into and the accessible objects report, so that what a
// screen reader points at is what the eye sees.
#pragma once

#include "setup/window/screens/window_state.h"

#include <string>

namespace qv {

// W below is the client width in pixels.
Gdiplus::RectF titleBox(const WindowState& state, float W);
// The line or paragraph under the title, for the screen showing.
Gdiplus::RectF bodyBox(const WindowState& state, float W);
// Its text: the note or tagline, the status, the error message, ...
std::wstring bodyText(const WindowState& state);
// "Error " and the code on the failure screen.
Gdiplus::RectF errorCodeBox(const WindowState& state, float W);
// The track of the progress bar on Working, WaitingForApp and Done.
Gdiplus::RectF progressBox(const WindowState& state, float W);
// The filled part of the track: the shown fraction from the left end (at
// least as long as the track is high) for a value >= 0; for an unknown
// value a block sweeping end to end and back every 1.8 s at time t.
Gdiplus::RectF progressFillBox(const WindowState& state, const Gdiplus::RectF& track, double value,
                               double t);
// What the bar shows: 1 on Done, unknown (-1) while waiting for the app,
// else the reported fraction.
double progressBarValue(const WindowState& state);
// True on the three screens with a progress bar.
bool showsProgress(const WindowState& state);

// The folder link's hit area for the measured width of its short text.
Gdiplus::RectF folderLinkBox(const WindowState& state, float W, float textWidth);
// The check box row's hit area (box and label) for the label's width.
Gdiplus::RectF removeDataRowBox(const WindowState& state, float W, float labelWidth);
// Sets the box of the entry with id, adding the entry when there is none.
void setHitArea(WindowState& state, int32_t id, const Gdiplus::RectF& box);
// Adds the link and check box hit areas that the screen shows, measured as
// the painting measures them; called by layoutButtons.
void addTextHitAreas(WindowState& state, Gdiplus::Graphics& graphics);

}  // namespace qv
