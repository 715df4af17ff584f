#include "setup/window/screens/window_seams.h"

#include "foundation/handles.h"

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

UINT monitorDpi(POINT where) {
    // shcore.dll has GetDpiForMonitor from Windows 8.1 on.
    using GetDpiForMonitorFunction = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
    const int effectiveDpi = 0;  // MDT_EFFECTIVE_DPI
    LoadedModule shcore(LoadLibraryExW(L"shcore.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
    if (!shcore) return 0;
    auto getDpi = reinterpret_cast<GetDpiForMonitorFunction>(
        reinterpret_cast<void*>(GetProcAddress(shcore.get(), "GetDpiForMonitor")));
    HMONITOR monitor = MonitorFromPoint(where, MONITOR_DEFAULTTOPRIMARY);
    UINT x = 0, y = 0;
    return getDpi && monitor && SUCCEEDED(getDpi(monitor, effectiveDpi, &x, &y)) ? y : 0;
}

}  // namespace

WindowSeams& windowSeams() {
    static WindowSeams seams{startThread, startGdiplus, SetClipboardData, showError, monitorDpi};
    return seams;
}

}  // namespace qv
