#include "setup/window/drawing/window_layout.h"

#include "setup/window/drawing/window_drawing.h"
#include "setup/window/drawing/window_paint_tools.h"
#include "setup/window/drawing/window_fit.h"
#include "setup/window/drawing/window_mirror.h"
#include "setup/window/texts/window_texts.h"

#include <algorithm>
#include <cmath>

namespace qv {

using Gdiplus::RectF;

namespace {

float s(const WindowState& state, float logical) { return scaled(state, logical); }


}  // namespace

RectF titleBox(const WindowState& state, float W) {
    return RectF(s(state, 24), s(state, 186), W - s(state, 48), s(state, 32));
}

bool showsProgress(const WindowState& state) {
    return state.screen == Screen::Working || state.screen == Screen::WaitingForApp ||
           state.screen == Screen::Done;
}

RectF bodyBox(const WindowState& state, float W) {
    float grown = state.bodyGrowth;
    if (state.screen == Screen::Welcome && !state.note.empty())
        return RectF(s(state, 36), s(state, 218), W - s(state, 72), s(state, 30) + grown);
    if (showsProgress(state))
        return RectF(s(state, 28), s(state, 220), W - s(state, 56), s(state, 40) + grown);
    if (state.screen == Screen::Failed)
        return RectF(s(state, 32), s(state, 220), W - s(state, 64), s(state, 46) + grown);
    return RectF(s(state, 24), s(state, 220), W - s(state, 48), s(state, 24) + grown);
}

std::wstring bodyText(const WindowState& state) {
    switch (state.screen) {
    case Screen::Welcome:
        return state.note.empty() ? uiText(state, TX_TAGLINE) : shownNote(state);
    case Screen::Working:
    case Screen::WaitingForApp:
    case Screen::Done:
        return progressLine(state);
    case Screen::Failed:
        return state.error ? shownErrorMessage(state.texts, *state.error) : std::wstring();
    case Screen::ConfirmUninstall:
        return uiText(state, TX_PROJECTS_SAFE);
    case Screen::Removed:
        return uiText(state, TX_NO_LONGER_ON_PC);
    }
    return L"";
}

RectF errorCodeBox(const WindowState& state, float W) {
    return RectF(s(state, 24), belowBody(state, 266), W - s(state, 48), s(state, 18));
}

RectF progressBox(const WindowState& state, float W) {
    return RectF(s(state, 64), belowBody(state, 262), W - s(state, 128), s(state, 6));
}

double progressBarValue(const WindowState& state) {
    if (state.screen == Screen::Done) return 1.0;
    if (state.screen == Screen::WaitingForApp) return -1.0;
    return state.targetFraction;
}

RectF progressFillBox(const WindowState& state, const RectF& track, double value, double t) {
    float w = track.Width, h = track.Height;
    if (value >= 0) {
        float fw = std::max(static_cast<float>(std::min(state.shownFraction, 1.0)) * w, h);
        return mirrored(state, 2 * track.X + w, RectF(track.X, track.Y, fw, h));
    }
    constexpr double pi = 3.14159265358979;
    float fw = 0.3f * w;
    float fx = track.X + static_cast<float>(0.5 - 0.5 * std::cos(2 * pi * t / 1.8)) * (w - fw);
    return RectF(fx, track.Y, fw, h);
}

RectF folderLinkBox(const WindowState& state, float W, float textWidth) {
    return mirrored(state, W, RectF((W - textWidth) / 2, belowBody(state, 298), textWidth + 2,
                                    s(state, 20)));
}

RectF removeDataRowBox(const WindowState& state, float W, float labelWidth) {
    float x0 = (W - (labelWidth + s(state, 24))) / 2;
    return mirrored(state, W, RectF(x0, belowBody(state, 252) - s(state, 2),
                                    labelWidth + s(state, 24), s(state, 22)));
}

void setHitArea(WindowState& state, int32_t id, const RectF& box) {
    for (WindowButton& button : state.buttons) {
        if (button.id != id) continue;
        button.x = box.X;
        button.y = box.Y;
        button.width = box.Width;
        button.height = box.Height;
        return;
    }
    state.buttons.push_back({id, box.X, box.Y, box.Width, box.Height, L"", false});
}

// Laid out with the buttons, not first at the next paint: an accessibility
// client may ask for the link or the check box before the screen is drawn.
void addTextHitAreas(WindowState& state, Gdiplus::Graphics& graphics) {
    float W = scaled(state, 440);
    if (state.screen == Screen::Welcome)
        setHitArea(state, FolderLink,
                   folderLinkBox(state, W, textWidth(graphics, uiText(state, TX_CHANGE_LOCATION),
                                                     state.smallFont.get())));
    else if (state.screen == Screen::ConfirmUninstall)
        setHitArea(state, RemoveDataBox,
                   removeDataRowBox(state, W,
                                    textWidth(graphics, uiText(state, TX_REMOVE_DATA),
                                              state.smallFont.get())));
}

}  // namespace qv
