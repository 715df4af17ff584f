// The window's creation: GDI+, DPI, logo, fonts, class, size and position.
#include "setup/window/drawing/window_drawing.h"
#include "setup/window/drawing/window_fonts.h"
#include "setup/window/screens/window_input.h"
#include "setup/window/screens/window_seams.h"
#include "setup/window/texts/window_texts.h"

#include "foundation/log.h"

#include <dwmapi.h>
#include <shlwapi.h>


namespace qv {
namespace {

constexpr wchar_t className[] = L"QuorvelAISetup";
constexpr int logoResource = 102;

// The PNG logo from the program's resources; none when any step fails.
void loadLogo(WindowState& state) {
    HRSRC resource = FindResourceW(state.instance, MAKEINTRESOURCEW(logoResource), RT_RCDATA);
    HGLOBAL loaded = resource ? LoadResource(state.instance, resource) : nullptr;
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    DWORD size = resource ? SizeofResource(state.instance, resource) : 0;
    if (!bytes || size == 0) return;
    // The stream keeps its own copy of the bytes.
    ComPtr<IStream> stream;
    *stream.put() = SHCreateMemStream(static_cast<const BYTE*>(bytes), size);
    if (!stream) return;
    auto bitmap = std::unique_ptr<Gdiplus::Bitmap>(Gdiplus::Bitmap::FromStream(stream.get()));
    if (bitmap && bitmap->GetLastStatus() == Gdiplus::Ok) state.logo = std::move(bitmap);
}

int32_t systemDpi() {
    HDC screen = GetDC(nullptr);
    if (!screen) return 96;
    ScopeGuard release([screen] { ReleaseDC(nullptr, screen); });
    int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    return dpi > 0 ? dpi : 96;
}

bool registerClass(HINSTANCE instance) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = CS_DROPSHADOW;
    windowClass.lpfnWndProc = windowProcedure;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
    windowClass.hIconSm = windowClass.hIcon;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.lpszClassName = className;
    return RegisterClassExW(&windowClass) || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

void setFrameAttributes(HWND window) {
    // Systems that do not know an attribute ignore it; so do we.
    const DWORD roundCorners = 2;
    const COLORREF border = 0x002E2828;
    const BOOL dark = TRUE;
    DwmSetWindowAttribute(window, 33, &roundCorners, sizeof(roundCorners));
    DwmSetWindowAttribute(window, 34, &border, sizeof(border));
    DwmSetWindowAttribute(window, 20, &dark, sizeof(dark));
}

}  // namespace

float scaled(const WindowState& state, float logical) {
    return static_cast<float>(state.dpi) * logical / 96.0f;
}

bool createWindow(WindowState& state) {
    // Every pixel is GDI+'s: without it there is nothing to show.
    Gdiplus::Status started = windowSeams().startGdiplus(&state.gdiplusToken);
    if (started != Gdiplus::Ok) {
        state.gdiplusToken = 0;
        logError(L"GDI+ could not start (status %d)", static_cast<int>(started));
        return false;
    }
    RECT work{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    // The scale of the monitor the window opens on, which may have changed
    // since the user signed in (the system dpi keeps that day's value).
    UINT monitor = windowSeams().monitorDpi({(work.left + work.right) / 2, (work.top + work.bottom) / 2});
    state.dpi = monitor > 0 ? static_cast<int32_t>(monitor) : systemDpi();
    loadLogo(state);
    createFonts(state);
    if (!registerClass(state.instance)) {
        logError(L"The setup window class could not be registered (error %lu)", GetLastError());
        return false;
    }
    int width = static_cast<int>(scaled(state, 440));
    int height = static_cast<int>(scaled(state, 340));
    int left = work.left + (work.right - work.left - width) / 2;
    int top = work.top + (work.bottom - work.top - height) / 2;
    const std::wstring& title = windowTitle(state);
    HWND window = CreateWindowExW(WS_EX_APPWINDOW, className, title.c_str(),
                                  WS_POPUP | WS_SYSMENU | WS_MINIMIZEBOX, left, top, width, height,
                                  nullptr, nullptr, state.instance, &state);
    if (!window) {
        logError(L"The setup window could not be created (error %lu)", GetLastError());
        return false;
    }
    setFrameAttributes(window);
    SetTimer(window, AnimationTimer, 33, nullptr);
    return true;
}

void applyDpi(WindowState& state, int32_t dpi, const RECT& suggested) {
    if (dpi <= 0 || !state.window) return;
    state.dpi = dpi;
    createFonts(state);
    // The system's rectangle keeps the window where it was on the monitor
    // it moved to; any other size would make it move back.
    SetWindowPos(state.window, nullptr, suggested.left, suggested.top,
                 suggested.right - suggested.left, suggested.bottom - suggested.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    layoutButtons(state);
    repaint(state);
}

void releaseDrawing(WindowState& state) {
    state.logo.reset();
    state.titleFont.reset();
    state.bodyFont.reset();
    state.smallFont.reset();
    state.buttonFont.reset();
    if (state.gdiplusToken) Gdiplus::GdiplusShutdown(state.gdiplusToken);
    state.gdiplusToken = 0;
}

}  // namespace qv
