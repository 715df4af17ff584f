// Button layout, one frame of the window and the animation tick. Every
// brush, path and format lives for one frame only; fonts and the logo are
// made once at creation.
#include "setup/window/drawing/window_drawing.h"

#include "setup/window/screens/window_input.h"
#include "setup/window/screens/window_items.h"
#include "setup/window/drawing/window_layout.h"
#include "setup/window/drawing/window_paint_tools.h"
#include "setup/window/drawing/window_contrast_drawing.h"
#include "setup/window/drawing/window_fit.h"
#include "setup/window/drawing/window_mirror.h"
#include "setup/window/texts/window_texts.h"

#include "foundation/text.h"

#include <cmath>

namespace qv {
namespace {

using namespace Gdiplus;

constexpr double pi = 3.14159265358979;

struct Row {
    std::vector<std::wstring> labels;
    int primary = -1;  // index of the primary button, -1 none
    float top = 0;
};

Row rowFor(const WindowState& state) {
    bool retryable = state.error && state.error->retryable;
    switch (state.screen) {
    case Screen::Welcome:
        return {{uiText(state, TX_BUTTON_INSTALL)}, 0, 248};
    case Screen::Failed:
        if (retryable)
            return {{uiText(state, TX_BUTTON_TRY_AGAIN), copyLabel(state),
                     uiText(state, TX_BUTTON_CLOSE)},
                    0, 290};
        // Enter copies here, so the copy button is the one drawn as the default.
        return {{copyLabel(state), uiText(state, TX_BUTTON_CLOSE)}, 0, 290};
    case Screen::ConfirmUninstall:
        return {{uiText(state, TX_BUTTON_UNINSTALL), uiText(state, TX_BUTTON_CANCEL)}, 0, 290};
    case Screen::Removed:
        return {{uiText(state, TX_BUTTON_CLOSE)}, 0, 276};
    default:
        return {};
    }
}

// The room a row label needs. The copy button takes the room of the wider
// of its two labels, so the row keeps still when one turns into the other.
float labelWidth(const WindowState& state, Graphics& graphics, const std::wstring& label) {
    const Font* font = state.buttonFont.get();
    const std::wstring& copy = uiText(state, TX_BUTTON_COPY);
    const std::wstring& copied = uiText(state, TX_BUTTON_COPIED);
    if (label != copy && label != copied) return textWidth(graphics, label, font);
    return std::max(textWidth(graphics, copy, font), textWidth(graphics, copied, font));
}

// A graphics object for measuring: from the window when there is one.
std::unique_ptr<Graphics> measuringGraphics(const WindowState& state, HDC screen) {
    if (state.window) return std::unique_ptr<Graphics>(Graphics::FromHWND(state.window));
    return std::make_unique<Graphics>(screen);
}

struct Frame {
    Graphics& g;
    WindowState& state;
    float W, H;
    double t;
    bool still;
    float s(float logical) const { return scaled(state, logical); }
};

void drawBackground(Frame& f) {
    LinearGradientBrush brush(PointF(0, 0), PointF(0, f.H), Color(palette::BackgroundTop),
                              Color(palette::BackgroundBottom));
    f.g.FillRectangle(&brush, RectF(0, 0, f.W, f.H));
}

void drawGlowAndLogo(Frame& f) {
    double p = std::sin(2 * pi * f.t / 3.2);
    double q = 0.5 + 0.5 * p;
    float r = f.s(static_cast<float>(118 + 10 * q));
    float cx = f.W / 2, cy = f.s(112);
    int alpha = f.still ? 28 : static_cast<int>(52 + 38 * q);
    ARGB colourPart = (f.state.screen == Screen::Failed ? palette::ErrorColor : palette::AccentColor) &
                      0x00FFFFFF;
    GraphicsPath circle;
    circle.AddEllipse(cx - r, cy - r, 2 * r, 2 * r);
    PathGradientBrush glow(&circle);
    glow.SetCenterColor(Color(static_cast<ARGB>(alpha) << 24 | colourPart));
    Color surround(0x00F5A524);
    INT count = 1;
    glow.SetSurroundColors(&surround, &count);
    f.g.FillPath(&glow, &circle);

    if (!f.state.logo) return;
    float bob = f.still ? 0 : static_cast<float>(4 * p);
    RectF square(cx - f.s(58), f.s(112 - 58 + bob), f.s(116), f.s(116));
    if (f.state.screen == Screen::Failed) {
        ColorMatrix matrix{{{1, 0, 0, 0, 0}, {0, 1, 0, 0, 0}, {0, 0, 1, 0, 0},
                            {0, 0, 0, 0.45f, 0}, {0, 0, 0, 0, 1}}};
        ImageAttributes attributes;
        attributes.SetColorMatrix(&matrix);
        f.g.DrawImage(f.state.logo.get(), square, 0, 0,
                      static_cast<REAL>(f.state.logo->GetWidth()),
                      static_cast<REAL>(f.state.logo->GetHeight()), UnitPixel, &attributes);
    } else {
        f.g.DrawImage(f.state.logo.get(), square);
    }
}

void drawProgress(Frame& f, const RectF& track, double value) {
    float x = track.X, y = track.Y, w = track.Width, h = track.Height;
    SolidBrush trackBrush{Color(palette::TrackColor)};
    fillRounded(f.g, trackBrush, track, h / 2);
    RectF fill = progressFillBox(f.state, track, value, f.t);
    float fw = fill.Width, fx = fill.X;
    bool fromRight = readsRightToLeft(f.state);
    LinearGradientBrush accent(RectF(x - 1, y, w + 2, h),
                               Color(fromRight ? palette::AccentDark : palette::AccentLight),
                               Color(fromRight ? palette::AccentLight : palette::AccentDark),
                               LinearGradientModeHorizontal);
    GraphicsPath fillPath;
    addRoundedRect(fillPath, fill, h / 2);
    f.g.FillPath(&accent, &fillPath);

    if (!(value >= 0 && value < 1 && fw > f.s(20))) return;
    float b = f.s(70);
    float m = static_cast<float>(std::fmod(f.s(260) * f.t, 2 * b + fw));
    // The band runs the way the bar fills.
    float left = fromRight ? fx + fw - m : fx + m - b;
    LinearGradientBrush band(RectF(left - 1, y, b + 2, h), Color(0x00FFFFFF), Color(0x00FFFFFF),
                             LinearGradientModeHorizontal);
    Color colours[3] = {Color(0x00FFFFFF), Color(0x78FFFAE6), Color(0x00FFFFFF)};
    REAL positions[3] = {0, 0.5f, 1};
    band.SetInterpolationColors(colours, positions, 3);
    f.g.SetClip(&fillPath);
    f.g.FillRectangle(&band, RectF(left, y, b, h));
    f.g.ResetClip();
}

void drawWelcome(Frame& f) {
    WindowState& state = f.state;
    if (!state.note.empty())
        drawText(f.g, state.note, state.smallFont.get(), palette::ErrorColor, bodyBox(state, f.W),
                 StringAlignmentCenter, true);
    else
        drawText(f.g, bodyText(state), state.bodyFont.get(), palette::BodyColor,
                 bodyBox(state, f.W), StringAlignmentCenter);
    const std::wstring link = uiText(state, TX_CHANGE_LOCATION);
    float w = textWidth(f.g, link, state.smallFont.get());
    RectF linkBox = folderLinkBox(state, f.W, w);
    if (showsFolderPath(state))
        drawText(f.g, folderHoverText(state), state.smallFont.get(),
                 palette::AccentLight, RectF(f.s(24), linkBox.Y, f.W - f.s(48), f.s(20)),
                 StringAlignmentCenter, false, Trim::PathMiddle);
    else
        drawText(f.g, link, state.smallFont.get(), palette::MutedColor, linkBox,
                 StringAlignmentNear);
    setHitArea(state, FolderLink, linkBox);
}

void drawProgressScreen(Frame& f) {
    WindowState& state = f.state;
    drawText(f.g, progressLine(state), state.bodyFont.get(), palette::BodyColor,
             bodyBox(state, f.W), StringAlignmentCenter, true);
    drawProgress(f, progressBox(state, f.W), progressBarValue(state));
    if (state.screen != Screen::Working || state.cancelRequested.load()) return;
    RectF line(f.s(64), belowBody(state, 276), f.W - f.s(128), f.s(20));
    drawText(f.g, shownDetail(state), state.smallFont.get(), palette::MutedColor, line,
             StringAlignmentNear);
    if (state.targetFraction >= 0)
        drawText(f.g, formatText(L"%d%%", static_cast<int>(state.shownFraction * 100)),
                 state.smallFont.get(), palette::MutedColor, line, StringAlignmentFar);
}

void drawFailed(Frame& f) {
    if (!f.state.error) return;
    drawText(f.g, bodyText(f.state), f.state.bodyFont.get(), palette::BodyColor,
             bodyBox(f.state, f.W), StringAlignmentCenter, true);
    drawText(f.g, errorCodeText(f.state), f.state.smallFont.get(), palette::MutedColor,
             errorCodeBox(f.state, f.W), StringAlignmentCenter);
}

void drawConfirm(Frame& f) {
    WindowState& state = f.state;
    drawText(f.g, bodyText(state), state.bodyFont.get(), palette::BodyColor, bodyBox(state, f.W),
             StringAlignmentCenter);
    const std::wstring label = uiText(state, TX_REMOVE_DATA);
    float w = textWidth(f.g, label, state.smallFont.get());
    RectF row = removeDataRowBox(state, f.W, w);
    CheckRow parts = checkRowParts(state, row, w);
    RectF box = parts.box;
    float x0 = box.X, y0 = box.Y - f.s(1);
    if (state.removeDataChecked) {
        LinearGradientBrush fill(box, Color(palette::AccentLight), Color(palette::AccentDark),
                                 LinearGradientModeForwardDiagonal);
        fillRounded(f.g, fill, box, f.s(4));
        Pen tick(Color(0xFF141416), f.s(2));
        tick.SetLineJoin(LineJoinRound);
        PointF points[3] = {PointF(x0 + f.s(4), y0 + f.s(9)), PointF(x0 + f.s(7), y0 + f.s(12)),
                            PointF(x0 + f.s(12.5f), y0 + f.s(5.5f))};
        f.g.DrawLines(&tick, points, 3);
    } else {
        SolidBrush fill{Color(state.hoverId == RemoveDataBox ? palette::ButtonHoverColor
                                                             : palette::ButtonColor)};
        GraphicsPath path;
        addRoundedRect(path, box, f.s(4));
        f.g.FillPath(&fill, &path);
        Pen outline(Color(0xFF52525B), f.s(1));
        f.g.DrawPath(&outline, &path);
    }
    drawText(f.g, label, state.smallFont.get(),
             state.hoverId == RemoveDataBox ? palette::TextColor : palette::BodyColor,
             parts.label, StringAlignmentNear);
    setHitArea(state, RemoveDataBox, row);
}

void drawBody(Frame& f) {
    switch (f.state.screen) {
    case Screen::Welcome:
        drawWelcome(f);
        break;
    case Screen::Working:
    case Screen::WaitingForApp:
    case Screen::Done:
        drawProgressScreen(f);
        break;
    case Screen::Failed:
        drawFailed(f);
        break;
    case Screen::ConfirmUninstall:
        drawConfirm(f);
        break;
    case Screen::Removed:
        drawText(f.g, bodyText(f.state), f.state.bodyFont.get(), palette::BodyColor,
                 bodyBox(f.state, f.W), StringAlignmentCenter);
        break;
    }
}

void drawTitleBarButton(Frame& f, const WindowButton& button) {
    bool enabled = buttonEnabled(f.state, button.id);
    bool hovered = enabled && f.state.hoverId == button.id;
    RectF box(button.x, button.y, button.width, button.height);
    if (hovered) {
        SolidBrush fill{Color(button.id == CloseButton ? 0xFFC42B1C : palette::TrackColor)};
        fillRounded(f.g, fill, box, f.s(6));
    }
    ARGB colour = !enabled ? palette::DisabledColor : hovered ? palette::TextColor : palette::MutedColor;
    Pen pen(Color(colour), f.s(1.2f));
    drawTitleGlyph(f.g, pen, box, f.s(5), button.id == CloseButton);
}

void drawPill(Frame& f, const WindowButton& button) {
    bool hovered = f.state.hoverId == button.id;
    RectF box(button.x, button.y, button.width, button.height);
    ARGB labelColour = palette::TextColor;
    if (button.primary) {
        LinearGradientBrush fill(box, Color(hovered ? 0xFFFCCD50 : palette::AccentLight),
                                 Color(palette::AccentDark), LinearGradientModeForwardDiagonal);
        fillRounded(f.g, fill, box, box.Height / 2);
        if (f.state.pressedId == button.id) {
            SolidBrush dark{Color(0x28000000)};
            fillRounded(f.g, dark, box, box.Height / 2);
        }
        labelColour = 0xFF181206;
    } else {
        SolidBrush fill{Color(hovered ? palette::ButtonHoverColor : palette::ButtonColor)};
        GraphicsPath path;
        addRoundedRect(path, box, box.Height / 2);
        f.g.FillPath(&fill, &path);
        Pen outline(Color(0xFF34343C), f.s(1));
        f.g.DrawPath(&outline, &path);
    }
    drawText(f.g, button.label, f.state.buttonFont.get(), labelColour,
             RectF(box.X, box.Y + f.s(8), box.Width, box.Height), StringAlignmentCenter);
}

void drawButtons(Frame& f) {
    for (const WindowButton& button : f.state.buttons) {
        if (button.id == MinimiseButton || button.id == CloseButton) drawTitleBarButton(f, button);
        else if (!button.label.empty()) drawPill(f, button);
    }
}

}  // namespace

void layoutButtons(WindowState& state) {
    state.buttons.clear();
    float W = scaled(state, 440);
    HDC screen = GetDC(nullptr);
    ScopeGuard releaseScreen([screen] { ReleaseDC(nullptr, screen); });
    auto graphics = measuringGraphics(state, screen);
    fitBody(state, *graphics);
    Row row = rowFor(state);
    std::vector<float> widths;
    float total = 0;
    float gap = scaled(state, 10);
    // A row of long labels first gives up the minimum widths, then padding,
    // rather than leave the window.
    for (int squeeze = 0; squeeze < 2; ++squeeze) {
        widths.clear();
        total = 0;
        for (size_t i = 0; i < row.labels.size(); ++i) {
            float minimum = squeeze ? 0.0f
                                    : scaled(state, static_cast<int>(i) == row.primary ? 128.0f : 104.0f);
            float padding = scaled(state, squeeze ? 24.0f : 36.0f);
            float width = std::max(padding + labelWidth(state, *graphics, row.labels[i]), minimum);
            widths.push_back(width);
            total += width;
        }
        if (total + gap * static_cast<float>(widths.size()) - gap <= W - scaled(state, 32)) break;
    }
    float x = (W - (total + gap * static_cast<float>(widths.size()) - gap)) / 2;
    for (size_t i = 0; i < widths.size(); ++i) {
        state.buttons.push_back({static_cast<int32_t>(i + 1), x, belowBody(state, row.top), widths[i],
                                 scaled(state, 36), row.labels[i],
                                 static_cast<int>(i) == row.primary});
        x += widths[i] + gap;
    }
    state.buttons.push_back({CloseButton, W - scaled(state, 42), scaled(state, 8), scaled(state, 34),
                             scaled(state, 28), L"", false});
    state.buttons.push_back({MinimiseButton, W - scaled(state, 78), scaled(state, 8),
                             scaled(state, 34), scaled(state, 28), L"", false});
    mirrorButtons(state, W);
    addTextHitAreas(state, *graphics);
}

void paint(WindowState& state, HDC dc) {
    RECT client{};
    GetClientRect(state.window, &client);
    int width = client.right - client.left, height = client.bottom - client.top;
    if (width <= 0 || height <= 0) return;
    MemoryDc memory(CreateCompatibleDC(dc));
    GdiObject bitmap(CreateCompatibleBitmap(dc, width, height));
    if (!memory || !bitmap) return;
    HGDIOBJ previous = SelectObject(memory.get(), bitmap.get());
    ScopeGuard restore([&] { SelectObject(memory.get(), previous); });
    {
        Graphics graphics(memory.get());
        graphics.SetSmoothingMode(SmoothingModeAntiAlias);
        graphics.SetTextRenderingHint(TextRenderingHintAntiAliasGridFit);
        graphics.SetInterpolationMode(InterpolationModeHighQualityBicubic);
        graphics.SetPixelOffsetMode(PixelOffsetModeHighQuality);
        double t = static_cast<double>(GetTickCount64() - state.startTick) / 1000.0;
        bool still = state.screen == Screen::Failed || state.screen == Screen::Removed;
        Frame frame{graphics, state, static_cast<float>(width), static_cast<float>(height), t, still};
        RightToLeftText direction(readsRightToLeft(state));
        if (state.access.highContrast) {
            paintHighContrast(graphics, state, frame.W, t);
        } else {
            drawBackground(frame);
            drawGlowAndLogo(frame);
            drawText(graphics, screenTitle(state), state.titleFont.get(), palette::TextColor,
                     titleBox(state, frame.W), StringAlignmentCenter);
            drawBody(frame);
            drawButtons(frame);
        }
        drawFocusRing(graphics, state);
        graphics.SetSmoothingMode(SmoothingModeNone);
        Pen border(Color(state.access.highContrast ? systemColour(COLOR_WINDOWTEXT) : 0xFF28282E), 1);
        graphics.DrawRectangle(&border, 0, 0, width - 1, height - 1);
    }
    BitBlt(dc, 0, 0, width, height, memory.get(), 0, 0, SRCCOPY);
}

bool tickRepaints(const WindowState& state) {
    if (!state.window || IsIconic(state.window)) return false;
    bool still = state.screen == Screen::Failed || state.screen == Screen::Removed;
    if (!still) return true;
    return state.relayoutPending ||
           (state.copiedAt != 0 && copyLabel(state) == uiText(state, TX_BUTTON_COPIED));
}

void animationTick(WindowState& state) {
    if (state.targetFraction >= 0)
        state.shownFraction += (state.targetFraction - state.shownFraction) * 0.18;
    if (state.screen == Screen::Done) state.shownFraction = 1.0;
    resetCopiedLabel(state);
    announceProgress(state);
    if (tickRepaints(state)) InvalidateRect(state.window, nullptr, FALSE);
    state.relayoutPending = false;
}

}  // namespace qv
