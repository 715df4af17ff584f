#include "setup/window/drawing/window_fonts.h"

#include "setup/window/drawing/window_drawing.h"

namespace qv {
namespace {

UiFontFamilies oneFamily(const wchar_t* name) { return {{name}, {name}, {name}, true}; }

// GDI+ accepts exact family names only; the first one that exists wins.
std::wstring firstFamily(const std::vector<const wchar_t*>& names) {
    for (const wchar_t* name : names) {
        Gdiplus::FontFamily family(name);
        if (family.GetLastStatus() == Gdiplus::Ok) return name;
    }
    return L"Segoe UI";
}

std::unique_ptr<Gdiplus::Font> makeFont(const std::wstring& familyName, float size, int style) {
    Gdiplus::FontFamily family(familyName.c_str());
    if (family.GetLastStatus() == Gdiplus::Ok) {
        auto font = std::make_unique<Gdiplus::Font>(&family, size, style, Gdiplus::UnitPixel);
        if (font->GetLastStatus() == Gdiplus::Ok) return font;
    }
    return std::make_unique<Gdiplus::Font>(Gdiplus::FontFamily::GenericSansSerif(), size, style,
                                           Gdiplus::UnitPixel);
}

}  // namespace

void createFonts(WindowState& state) {
    UiFontFamilies families = uiFontFamilies(languageInfo(state.texts.language()).script);
    int headingStyle = families.boldHeadings ? Gdiplus::FontStyleBold : Gdiplus::FontStyleRegular;
    std::wstring title = firstFamily(families.title);
    std::wstring body = firstFamily(families.body);
    std::wstring button = firstFamily(families.button);
    Gdiplus::FontFamily titleFamily(title.c_str());
    state.titleFont = std::make_unique<Gdiplus::Font>(&titleFamily, scaled(state, 19), headingStyle,
                                                      Gdiplus::UnitPixel);
    if (state.titleFont->GetLastStatus() != Gdiplus::Ok)
        state.titleFont = makeFont(L"Segoe UI", scaled(state, 19), Gdiplus::FontStyleBold);
    state.bodyFont = makeFont(body, scaled(state, 13.5f), Gdiplus::FontStyleRegular);
    state.smallFont = makeFont(body, scaled(state, 12), Gdiplus::FontStyleRegular);
    state.buttonFont = makeFont(button, scaled(state, 13.5f), headingStyle);
}

UiFontFamilies uiFontFamilies(Script script) {
    switch (script) {
    case Script::Japanese:
        return {{L"Yu Gothic UI Semibold", L"Yu Gothic UI"},
                {L"Yu Gothic UI"},
                {L"Yu Gothic UI Semibold", L"Yu Gothic UI"},
                false};
    case Script::Korean:
        return oneFamily(L"Malgun Gothic");
    case Script::ChineseSimplified:
        return oneFamily(L"Microsoft YaHei UI");
    case Script::ChineseTraditional:
        return oneFamily(L"Microsoft JhengHei UI");
    case Script::Thai:
        return oneFamily(L"Leelawadee UI");
    case Script::Latin:
    case Script::Arabic:
        break;
    }
    return {{L"Segoe UI Variable Display Semibold", L"Segoe UI Variable Display Semib",
             L"Segoe UI Semibold"},
            {L"Segoe UI Variable Text", L"Segoe UI"},
            {L"Segoe UI Variable Text Semibold", L"Segoe UI Semibold"},
            false};
}

}  // namespace qv
