// The UI fonts for the script of the user's language, as Windows' own UI
// picks them: Yu Gothic UI for Japanese, Malgun Gothic for Korean,
// Microsoft YaHei UI and Microsoft JhengHei UI for Chinese, Leelawadee UI
// for Thai, Segoe UI for the rest (Arabic included).
#pragma once

#include "setup/window/screens/window_state.h"

#include "setup/texts/language.h"

#include <vector>

namespace qv {

struct UiFontFamilies {
    // Tried in order; GDI+ accepts exact family names only.
    std::vector<const wchar_t*> title, body, button;
    // The family has no semibold face of its own: titles and buttons are
    // its bold style.
    bool boldHeadings = false;
};

UiFontFamilies uiFontFamilies(Script script);

// Creates the title, body, small and button fonts for the state's
// language at its dpi; a family that does not exist falls back.
void createFonts(WindowState& state);

}  // namespace qv
