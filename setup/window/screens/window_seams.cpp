#include "setup/window/screens/window_seams.h"

namespace qv {
namespace {

HANDLE startThread(LPTHREAD_START_ROUTINE routine, void* parameter) {
    return CreateThread(nullptr, 0, routine, parameter, 0, nullptr);
}

Gdiplus::Status startGdiplus(ULONG_PTR* token) {
    Gdiplus::GdiplusStartupInput input;
    return Gdiplus::GdiplusStartup(token, &input, nullptr);
}

void showError(const std::wstring& caption, const std::wstring& text) {
    MessageBoxW(nullptr, text.c_str(), caption.c_str(), MB_OK | MB_ICONERROR);
}

}  // namespace

WindowSeams& windowSeams() {
    static WindowSeams seams{startThread, startGdiplus, SetClipboardData, showError};
    return seams;
}

}  // namespace qv
