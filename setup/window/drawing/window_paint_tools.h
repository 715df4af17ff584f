// Drawing helpers shared by the window's standard and high-contrast frames.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <string>

namespace qv {

// The text's measured width in font; 0 without a font.
float textWidth(Gdiplus::Graphics& graphics, const std::wstring& text, const Gdiplus::Font* font);
// A rounded rectangle; the radius is capped at half the shorter side.
void addRoundedRect(Gdiplus::GraphicsPath& path, const Gdiplus::RectF& box, float radius);
void fillRounded(Gdiplus::Graphics& graphics, const Gdiplus::Brush& brush,
                 const Gdiplus::RectF& box, float radius);

// The close cross or the minimise bar, centred in box, reaching halfSize
// from the centre.
void drawTitleGlyph(Gdiplus::Graphics& graphics, const Gdiplus::Pen& pen,
                    const Gdiplus::RectF& box, float halfSize, bool close);

enum class Trim { Character, PathMiddle };

// While one lives, drawText and measureText on this thread read right to
// left (near alignment is then the right edge); painting sets it per frame.
class RightToLeftText {
public:
    explicit RightToLeftText(bool on);
    ~RightToLeftText();
    RightToLeftText(const RightToLeftText&) = delete;
    RightToLeftText& operator=(const RightToLeftText&) = delete;

private:
    bool previous_;
};

// The format drawText uses: top-aligned, the given alignment and trimming,
// one line unless wrap.
void setTextFormat(Gdiplus::StringFormat& format, Gdiplus::StringAlignment alignment, bool wrap,
                   Trim trim);
// The room text takes when drawText lays it out in box: the width of its
// widest line and the height of all its lines, also beyond the box;
// fitted is false when that is more than the box holds.
Gdiplus::RectF measureText(Gdiplus::Graphics& graphics, const std::wstring& text,
                           const Gdiplus::Font* font, const Gdiplus::RectF& box, bool wrap,
                           bool* fitted = nullptr);

// One text in a layout box, top-aligned; nothing without a font or text.
void drawText(Gdiplus::Graphics& graphics, const std::wstring& text, const Gdiplus::Font* font,
              Gdiplus::ARGB colour, const Gdiplus::RectF& box, Gdiplus::StringAlignment alignment,
              bool wrap = false, Trim trim = Trim::Character);

}  // namespace qv
