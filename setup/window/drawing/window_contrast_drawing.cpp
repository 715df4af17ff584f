#include "setup/window/drawing/window_contrast_drawing.h"

#include "setup/window/drawing/window_drawing.h"
#include "setup/window/screens/window_items.h"
#include "setup/window/drawing/window_layout.h"
#include "setup/window/drawing/window_fit.h"
#include "setup/window/drawing/window_mirror.h"
#include "setup/window/drawing/window_paint_tools.h"
#include "setup/window/texts/window_texts.h"

#include "foundation/text.h"

namespace qv {

using namespace Gdiplus;

ARGB systemColour(int index) {
    COLORREF c = GetSysColor(index);
    return 0xFF000000u | static_cast<ARGB>(GetRValue(c)) << 16 |
           static_cast<ARGB>(GetGValue(c)) << 8 | GetBValue(c);
}

namespace {

struct Scheme {
    ARGB window = systemColour(COLOR_WINDOW);
    ARGB text = systemColour(COLOR_WINDOWTEXT);
    ARGB highlight = systemColour(COLOR_HIGHLIGHT);
    ARGB highlightText = systemColour(COLOR_HIGHLIGHTTEXT);
    ARGB face = systemColour(COLOR_BTNFACE);
    ARGB faceText = systemColour(COLOR_BTNTEXT);
    ARGB gray = systemColour(COLOR_GRAYTEXT);
    ARGB link = systemColour(COLOR_HOTLIGHT);
};

struct HcFrame {
    Graphics& g;
    WindowState& state;
    float W;
    double t;
    Scheme colours;
    float s(float logical) const { return scaled(state, logical); }
};

void outline(HcFrame& f, const RectF& box, float radius, ARGB colour, float width) {
    GraphicsPath path;
    addRoundedRect(path, box, radius);
    Pen pen(Color(colour), width);
    f.g.DrawPath(&pen, &path);
}

void fill(HcFrame& f, const RectF& box, float radius, ARGB colour) {
    SolidBrush brush{Color(colour)};
    fillRounded(f.g, brush, box, radius);
}

// A link in a high-contrast theme: the theme's link colour, underlined,
// since colour alone does not tell it from text.
void drawLink(HcFrame& f, const std::wstring& text, const RectF& box, StringAlignment alignment,
              Trim trim) {
    const Font* small = f.state.smallFont.get();
    if (!small) return;
    FontFamily family;
    small->GetFamily(&family);
    Font underlined(&family, small->GetSize(), small->GetStyle() | FontStyleUnderline,
                    small->GetUnit());
    const Font* font = underlined.GetLastStatus() == Ok ? &underlined : small;
    drawText(f.g, text, font, f.colours.link, box, alignment, false, trim);
}

void drawWelcome(HcFrame& f) {
    WindowState& state = f.state;
    const Font* font = state.note.empty() ? state.bodyFont.get() : state.smallFont.get();
    drawText(f.g, bodyText(state), font, f.colours.text, bodyBox(state, f.W),
             StringAlignmentCenter, !state.note.empty());
    const std::wstring link = uiText(state, TX_CHANGE_LOCATION);
    RectF linkBox = folderLinkBox(state, f.W, textWidth(f.g, link, state.smallFont.get()));
    if (showsFolderPath(state))
        drawLink(f, folderHoverText(state),
                 RectF(f.s(24), linkBox.Y, f.W - f.s(48), linkBox.Height), StringAlignmentCenter,
                 Trim::PathMiddle);
    else
        drawLink(f, link, linkBox, StringAlignmentNear, Trim::Character);
}

void drawProgressScreen(HcFrame& f) {
    WindowState& state = f.state;
    drawText(f.g, bodyText(state), state.bodyFont.get(), f.colours.text, bodyBox(state, f.W),
             StringAlignmentCenter, true);
    RectF track = progressBox(state, f.W);
    double value = progressBarValue(state);
    fill(f, track, track.Height / 2, f.colours.window);
    fill(f, progressFillBox(state, track, value, f.t), track.Height / 2, f.colours.highlight);
    outline(f, track, track.Height / 2, f.colours.text, f.s(1));
    if (state.screen != Screen::Working || state.cancelRequested.load()) return;
    RectF line(track.X, belowBody(state, 276), track.Width, f.s(20));
    drawText(f.g, shownDetail(state), state.smallFont.get(), f.colours.text, line,
             StringAlignmentNear);
    if (state.targetFraction >= 0)
        drawText(f.g, formatText(L"%d%%", static_cast<int>(state.shownFraction * 100)),
                 state.smallFont.get(), f.colours.text, line, StringAlignmentFar);
}

void drawConfirm(HcFrame& f) {
    WindowState& state = f.state;
    drawText(f.g, bodyText(state), state.bodyFont.get(), f.colours.text, bodyBox(state, f.W),
             StringAlignmentCenter);
    const std::wstring label = uiText(state, TX_REMOVE_DATA);
    float w = textWidth(f.g, label, state.smallFont.get());
    RectF row = removeDataRowBox(state, f.W, w);
    CheckRow parts = checkRowParts(state, row, w);
    RectF box = parts.box;
    float x0 = box.X, y0 = box.Y - f.s(1);
    if (state.removeDataChecked) {
        fill(f, box, f.s(4), f.colours.highlight);
        Pen tick(Color(f.colours.highlightText), f.s(2));
        tick.SetLineJoin(LineJoinRound);
        PointF points[3] = {PointF(x0 + f.s(4), y0 + f.s(9)), PointF(x0 + f.s(7), y0 + f.s(12)),
                            PointF(x0 + f.s(12.5f), y0 + f.s(5.5f))};
        f.g.DrawLines(&tick, points, 3);
    } else {
        fill(f, box, f.s(4), f.colours.window);
    }
    outline(f, box, f.s(4), f.colours.text, f.s(1));
    drawText(f.g, label, state.smallFont.get(),
             state.hoverId == RemoveDataBox ? f.colours.highlight : f.colours.text,
             parts.label, StringAlignmentNear);
}

void drawBody(HcFrame& f) {
    WindowState& state = f.state;
    if (state.screen == Screen::Welcome) {
        drawWelcome(f);
    } else if (showsProgress(state)) {
        drawProgressScreen(f);
    } else if (state.screen == Screen::ConfirmUninstall) {
        drawConfirm(f);
    } else {
        drawText(f.g, bodyText(state), state.bodyFont.get(), f.colours.text, bodyBox(state, f.W),
                 StringAlignmentCenter, true);
        if (state.screen == Screen::Failed && state.error)
            drawText(f.g, errorCodeText(state), state.smallFont.get(), f.colours.text,
                     errorCodeBox(state, f.W), StringAlignmentCenter);
    }
}

void drawTitleBarButton(HcFrame& f, const WindowButton& button) {
    // A second close does nothing while a cancel is under way.
    bool disabled = !buttonEnabled(f.state, button.id);
    bool hovered = !disabled && f.state.hoverId == button.id;
    RectF box(button.x, button.y, button.width, button.height);
    if (hovered) fill(f, box, f.s(6), f.colours.highlight);
    ARGB colour = disabled ? f.colours.gray : hovered ? f.colours.highlightText : f.colours.text;
    Pen pen(Color(colour), f.s(1.2f));
    drawTitleGlyph(f.g, pen, box, f.s(5), button.id == CloseButton);
}

void drawPill(HcFrame& f, const WindowButton& button) {
    RectF box(button.x, button.y, button.width, button.height);
    float radius = box.Height / 2;
    bool hovered = f.state.hoverId == button.id;
    ARGB label = f.colours.faceText;
    if (button.primary) {
        fill(f, box, radius, f.colours.highlight);
        label = f.colours.highlightText;
    } else {
        fill(f, box, radius, f.colours.face);
    }
    // Hover shows as a thicker edge: the colours stay the user's.
    outline(f, box, radius, button.primary ? f.colours.highlight : f.colours.faceText,
            f.s(hovered ? 2.0f : 1.0f));
    drawText(f.g, button.label, f.state.buttonFont.get(), label,
             RectF(box.X, box.Y + f.s(8), box.Width, box.Height), StringAlignmentCenter);
}

}  // namespace

void paintHighContrast(Graphics& graphics, WindowState& state, float W, double t) {
    HcFrame f{graphics, state, W, t, Scheme()};
    RECT client{};
    GetClientRect(state.window, &client);
    SolidBrush background{Color(f.colours.window)};
    graphics.FillRectangle(&background, RectF(0, 0, W, static_cast<REAL>(client.bottom)));
    if (state.logo)
        graphics.DrawImage(state.logo.get(), RectF(W / 2 - f.s(58), f.s(112 - 58), f.s(116), f.s(116)));
    drawText(graphics, screenTitle(state), state.titleFont.get(), f.colours.text,
             titleBox(state, W), StringAlignmentCenter);
    drawBody(f);
    for (const WindowButton& button : state.buttons) {
        if (button.id == MinimiseButton || button.id == CloseButton) drawTitleBarButton(f, button);
        else if (!button.label.empty()) drawPill(f, button);
    }
}

void drawFocusRing(Graphics& graphics, const WindowState& state) {
    if (!state.access.keyboardUsed || state.access.focusId == 0) return;
    for (const WindowButton& button : state.buttons) {
        if (button.id != state.access.focusId) continue;
        float gap = scaled(state, 3);
        RectF ring(button.x - gap, button.y - gap, button.width + 2 * gap, button.height + 2 * gap);
        float radius = button.id == MinimiseButton || button.id == CloseButton ? scaled(state, 6)
                       : button.label.empty()                                  ? scaled(state, 4)
                                                                               : button.height / 2;
        GraphicsPath path;
        addRoundedRect(path, ring, radius + gap);
        ARGB colour = state.access.highContrast ? systemColour(COLOR_WINDOWTEXT) : palette::TextColor;
        Pen pen(Color(colour), scaled(state, 2));
        graphics.DrawPath(&pen, &path);
        return;
    }
}

}  // namespace qv
