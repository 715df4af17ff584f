// The window procedure and what the mouse and the keys do on each screen.
#pragma once

#include "setup/window/screens/window_state.h"

namespace qv {

// The procedure of the class "QuorvelAISetup": takes the state from the
// creation parameter and hands every message to it.
LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The id of the last-added button whose box holds the client point; 0 none.
int32_t hitTest(const WindowState& state, float x, float y);
// A completed press-and-release on the button id.
void click(WindowState& state, int32_t id);
// WM_KEYDOWN with a virtual key.
void pressKey(WindowState& state, WPARAM key);
// Puts the error report on the clipboard and shows "Copied".
void copyDetails(WindowState& state);
// The folder picker; a chosen folder not named QuorvelAI gets that name
// appended.
void chooseFolder(WindowState& state);
// The folder that a picked folder stands for.
std::wstring installFolderFor(const std::wstring& picked);
// Timer 1: turns "Copied" back into "Copy details" 1.6 s after a copy.
void resetCopiedLabel(WindowState& state);

}  // namespace qv
