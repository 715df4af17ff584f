#include "setup/window/drawing/window_fit.h"

#include "setup/window/drawing/window_drawing.h"
#include "setup/window/drawing/window_layout.h"
#include "setup/window/drawing/window_paint_tools.h"

#include <algorithm>

namespace qv {

const Gdiplus::Font* bodyFont(const WindowState& state) {
    bool note = state.screen == Screen::Welcome && !state.note.empty();
    return note ? state.smallFont.get() : state.bodyFont.get();
}

bool bodyWraps(const WindowState& state) {
    if (state.screen == Screen::Welcome) return !state.note.empty();
    return showsProgress(state) || state.screen == Screen::Failed;
}

float belowBody(const WindowState& state, float logicalY) {
    return scaled(state, logicalY) + state.bodyGrowth;
}

int windowHeight(const WindowState& state) {
    return static_cast<int>(scaled(state, 340) + state.bodyGrowth);
}

void fitBody(WindowState& state, Gdiplus::Graphics& graphics) {
    state.bodyGrowth = 0;
    if (bodyWraps(state)) {
        Gdiplus::RectF box = bodyBox(state, scaled(state, 440));
        float needed = measureText(graphics, bodyText(state), bodyFont(state), box, true).Height;
        // Whole pixels, so that the boxes below do not move by fractions.
        state.bodyGrowth = std::max(0.0f, static_cast<float>(static_cast<int>(needed - box.Height + 0.999f)));
    }
    if (!state.window) return;
    RECT client{};
    GetClientRect(state.window, &client);
    int height = windowHeight(state);
    if (client.bottom - client.top == height) return;
    RECT frame{};
    GetWindowRect(state.window, &frame);
    SetWindowPos(state.window, nullptr, 0, 0, frame.right - frame.left, height,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace qv
