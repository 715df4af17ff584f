// What the window shows in the user's language. The steps hand over
// English (their log stays English); this turns their status lines,
// details, notes and errors into the user's sentences by the line's id or
// the error's code, keeping the values they carry.
#pragma once

#include "setup/window/screens/window_state.h"

#include "setup/texts/texts.h"

#include <string>
#include <vector>

namespace qv {

// The user's text of id.
const std::wstring& uiText(const WindowState& state, TextId id);
// The window's title, which also captions its message boxes.
const std::wstring& windowTitle(const WindowState& state);

// The status line, the detail line and the welcome note as the user reads them.
std::wstring shownStatus(const WindowState& state);
std::wstring shownDetail(const WindowState& state);
std::wstring shownNote(const WindowState& state);
// The error's message in the user's language; the English one when its
// code or text is not known.
std::wstring shownErrorMessage(const Texts& texts, const SetupError& error);

// "Installs to <folder>  ·  Change" of the hovered folder link.
std::wstring folderHoverText(const WindowState& state);
// "Error <code>" under the failure screen's message.
std::wstring errorCodeText(const WindowState& state);

// The sentences an error with code may have been made from.
std::vector<TextId> errorMessageIds(const std::wstring& code);
// The sentence of a status line; 0 for StatusLine::Other.
TextId statusLineId(StatusLine line);

// report with a line "Shown as: " + shown after the English message, when
// the user read the message in another language; support reads both.
std::wstring reportWithShownMessage(const std::wstring& report, const std::wstring& english,
                                    const std::wstring& shown);

}  // namespace qv
