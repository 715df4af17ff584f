#include "setup/window/drawing/window_paint_tools.h"

#include <algorithm>

namespace qv {

using namespace Gdiplus;

float textWidth(Graphics& graphics, const std::wstring& text, const Font* font) {
    if (!font) return 0;
    RectF box;
    graphics.MeasureString(text.c_str(), static_cast<INT>(text.size()), font, PointF(0, 0), &box);
    return box.Width;
}

void addRoundedRect(GraphicsPath& path, const RectF& box, float radius) {
    radius = std::min(radius, std::min(box.Width, box.Height) / 2);
    float d = 2 * radius;
    if (d <= 0) {
        path.AddRectangle(box);
        return;
    }
    path.AddArc(box.X, box.Y, d, d, 180, 90);
    path.AddArc(box.X + box.Width - d, box.Y, d, d, 270, 90);
    path.AddArc(box.X + box.Width - d, box.Y + box.Height - d, d, d, 0, 90);
    path.AddArc(box.X, box.Y + box.Height - d, d, d, 90, 90);
    path.CloseFigure();
}

void fillRounded(Graphics& graphics, const Brush& brush, const RectF& box, float radius) {
    GraphicsPath path;
    addRoundedRect(path, box, radius);
    graphics.FillPath(&brush, &path);
}

void drawTitleGlyph(Graphics& graphics, const Pen& pen, const RectF& box, float halfSize, bool close) {
    float cx = box.X + box.Width / 2, cy = box.Y + box.Height / 2, k = halfSize;
    if (close) {
        graphics.DrawLine(&pen, cx - k, cy - k, cx + k, cy + k);
        graphics.DrawLine(&pen, cx - k, cy + k, cx + k, cy - k);
    } else {
        graphics.DrawLine(&pen, cx - k, cy, cx + k, cy);
    }
}

namespace {
thread_local bool rightToLeftText = false;
}  // namespace

RightToLeftText::RightToLeftText(bool on) : previous_(rightToLeftText) { rightToLeftText = on; }
RightToLeftText::~RightToLeftText() { rightToLeftText = previous_; }

void setTextFormat(StringFormat& format, StringAlignment alignment, bool wrap, Trim trim) {
    format.SetAlignment(alignment);
    format.SetLineAlignment(StringAlignmentNear);
    format.SetTrimming(trim == Trim::PathMiddle ? StringTrimmingEllipsisPath
                                                 : StringTrimmingEllipsisCharacter);
    INT flags = 0;
    if (!wrap) flags |= StringFormatFlagsNoWrap;
    if (rightToLeftText) flags |= StringFormatFlagsDirectionRightToLeft;
    format.SetFormatFlags(flags);
}

RectF measureText(Graphics& graphics, const std::wstring& text, const Font* font, const RectF& box,
                  bool wrap, bool* fitted) {
    RectF needed;
    if (fitted) *fitted = true;
    if (!font || text.empty()) return needed;
    StringFormat format;
    setTextFormat(format, StringAlignmentNear, wrap, Trim::Character);
    // No limit where the text may run on: every line it needs counts, and
    // a line that will not wrap shows its whole width.
    const float unlimited = 100000.0f;
    RectF room(0, 0, wrap ? box.Width : unlimited, unlimited);
    graphics.MeasureString(text.c_str(), static_cast<INT>(text.size()), font, room, &format, &needed);
    if (fitted) *fitted = needed.Width <= box.Width + 0.5f && needed.Height <= box.Height + 0.5f;
    return needed;
}

void drawText(Graphics& graphics, const std::wstring& text, const Font* font, ARGB colour,
              const RectF& box, StringAlignment alignment, bool wrap, Trim trim) {
    if (!font || text.empty()) return;
    StringFormat format;
    setTextFormat(format, alignment, wrap, trim);
    SolidBrush brush{Color(colour)};
    graphics.DrawString(text.c_str(), static_cast<INT>(text.size()), font, box, &format, &brush);
}

}  // namespace qv
