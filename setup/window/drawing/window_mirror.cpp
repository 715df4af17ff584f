#include "setup/window/drawing/window_mirror.h"

#include "setup/window/drawing/window_drawing.h"

namespace qv {

using Gdiplus::RectF;

bool readsRightToLeft(const WindowState& state) { return state.texts.rightToLeft(); }

RectF mirrored(const WindowState& state, float W, const RectF& box) {
    if (!readsRightToLeft(state)) return box;
    return RectF(W - box.X - box.Width, box.Y, box.Width, box.Height);
}

void mirrorButtons(WindowState& state, float W) {
    if (!readsRightToLeft(state)) return;
    for (WindowButton& button : state.buttons) button.x = W - button.x - button.width;
}

CheckRow checkRowParts(const WindowState& state, const RectF& row, float labelWidth) {
    float box = scaled(state, 16), gap = scaled(state, 24), top = row.Y + scaled(state, 2);
    CheckRow parts;
    if (readsRightToLeft(state)) {
        parts.box = RectF(row.X + row.Width - box, top + scaled(state, 1), box, box);
        parts.label = RectF(row.X + row.Width - gap - labelWidth - 2, top, labelWidth + 2,
                            scaled(state, 20));
    } else {
        parts.box = RectF(row.X, top + scaled(state, 1), box, box);
        parts.label = RectF(row.X + gap, top, labelWidth + 2, scaled(state, 20));
    }
    return parts;
}

}  // namespace qv
