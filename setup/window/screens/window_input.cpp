#include "setup/window/screens/window_input.h"

#include "setup/window/drawing/window_drawing.h"
#include "setup/window/screens/window_items.h"
#include "setup/window/texts/window_texts.h"
#include "setup/window/screens/window_seams.h"

#include "foundation/paths.h"

#include <shobjidl.h>
#include <windowsx.h>

namespace qv {
namespace {

constexpr uint64_t copiedShowMs = 1600;

bool retryableError(const WindowState& state) { return state.error && state.error->retryable; }

void toggleRemoveData(WindowState& state) {
    state.removeDataChecked = !state.removeDataChecked;
    repaint(state);
    buttonChanged(state, RemoveDataBox, EVENT_OBJECT_STATECHANGE);
}

// The failure screen's copy button, whose label turns into "Copied" and back.
int32_t copyButton(const WindowState& state) {
    return retryableError(state) ? RowSecond : RowFirst;
}

void clickFailed(WindowState& state, int32_t id) {
    if (retryableError(state)) {
        if (id == RowFirst) startRun(state);
        else if (id == RowSecond) copyDetails(state);
        else if (id == RowThird) backFromFailure(state);
        return;
    }
    if (id == RowFirst) copyDetails(state);
    else if (id == RowSecond) backFromFailure(state);
}

void clickRow(WindowState& state, int32_t id) {
    switch (state.screen) {
    case Screen::Welcome:
        if (id == RowFirst) startRun(state);
        break;
    case Screen::Failed:
        clickFailed(state, id);
        break;
    case Screen::ConfirmUninstall:
        if (id == RowFirst) startRun(state);
        else if (id == RowSecond) closeWindow(state);
        break;
    case Screen::Removed:
        closeWindow(state);
        break;
    default:
        break;
    }
}

POINT clientPoint(LPARAM lParam) { return {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)}; }

int32_t hitAt(const WindowState& state, POINT point) {
    return hitTest(state, static_cast<float>(point.x), static_cast<float>(point.y));
}

void setHover(WindowState& state, int32_t id) {
    if (state.hoverId == id) return;
    state.hoverId = id;
    repaint(state);
}

// Mouse and keyboard; false for messages left to the default handling.
bool handleInput(WindowState& state, UINT message, WPARAM wParam, LPARAM lParam,
                 LRESULT& result) {
    switch (message) {
    case WM_NCHITTEST: {
        POINT point = clientPoint(lParam);
        ScreenToClient(state.window, &point);
        result = hitAt(state, point) != 0 ? HTCLIENT : HTCAPTION;
        return true;
    }
    case WM_SETCURSOR:
        if (LOWORD(lParam) == HTCLIENT && state.hoverId != 0) {
            SetCursor(LoadCursorW(nullptr, IDC_HAND));
            result = TRUE;
            return true;
        }
        return false;
    case WM_MOUSEMOVE: {
        setHover(state, hitAt(state, clientPoint(lParam)));
        TRACKMOUSEEVENT track{sizeof(track), TME_LEAVE, state.window, 0};
        TrackMouseEvent(&track);
        return true;
    }
    case WM_MOUSELEAVE:
    case WM_NCMOUSEMOVE:
        setHover(state, 0);
        return false;
    case WM_LBUTTONDOWN:
        state.pressedId = hitAt(state, clientPoint(lParam));
        SetCapture(state.window);
        repaint(state);
        return true;
    case WM_LBUTTONUP: {
        ReleaseCapture();
        int32_t hit = hitAt(state, clientPoint(lParam));
        int32_t pressed = state.pressedId;
        state.pressedId = 0;
        if (hit != 0 && hit == pressed) click(state, hit);
        repaint(state);
        return true;
    }
    case WM_KEYDOWN:
        pressKey(state, wParam);
        return true;
    case WM_CLOSE:
        requestClose(state);
        return true;
    default:
        return false;
    }
}

LRESULT handleMessage(WindowState& state, HWND window, UINT message, WPARAM wParam,
                      LPARAM lParam) {
    if (handleStateMessage(state, message, wParam, lParam)) return 0;
    LRESULT result = 0;
    if (handleAccessMessage(state, message, wParam, lParam, result)) return result;
    if (handleInput(state, message, wParam, lParam, result)) return result;
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(window, &ps);
        if (dc) paint(state, dc);
        EndPaint(window, &ps);
        return 0;
    }
    case WM_ERASEBKGND:
        return 1;  // every frame paints every pixel
    case WM_DPICHANGED:
        if (lParam) applyDpi(state, LOWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
        return 0;
    case WM_DESTROY:
        KillTimer(window, AnimationTimer);
        PostQuitMessage(0);
        return 0;
    case WM_NCDESTROY:
        state.postTarget = nullptr;
        state.window = nullptr;
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        break;
    default:
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        auto* state = static_cast<WindowState*>(create->lpCreateParams);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(state));
        state->window = window;
        state->postTarget = window;
        return DefWindowProcW(window, message, wParam, lParam);
    }
    auto* state = reinterpret_cast<WindowState*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!state) return DefWindowProcW(window, message, wParam, lParam);
    return handleMessage(*state, window, message, wParam, lParam);
}

int32_t hitTest(const WindowState& state, float x, float y) {
    for (auto it = state.buttons.rbegin(); it != state.buttons.rend(); ++it) {
        if (x >= it->x && x < it->x + it->width && y >= it->y && y < it->y + it->height)
            return it->id;
    }
    return 0;
}

void click(WindowState& state, int32_t id) {
    switch (id) {
    case FolderLink:
        if (state.screen == Screen::Welcome) chooseFolder(state);
        return;
    case RemoveDataBox:
        toggleRemoveData(state);
        return;
    case MinimiseButton:
        ShowWindow(state.window, SW_MINIMIZE);
        return;
    case CloseButton:
        requestClose(state);
        return;
    case RowFirst:
    case RowSecond:
    case RowThird:
        clickRow(state, id);
        return;
    default:
        return;
    }
}

void pressKey(WindowState& state, WPARAM key) {
    if (focusKey(state, key, GetKeyState(VK_SHIFT) < 0)) return;
    Screen screen = state.screen;
    if (key == VK_RETURN) {
        if (screen == Screen::Welcome || screen == Screen::ConfirmUninstall) startRun(state);
        else if (screen == Screen::Failed && retryableError(state)) startRun(state);
        else if (screen == Screen::Failed) copyDetails(state);
        else if (screen == Screen::Removed) closeWindow(state);
    } else if (key == VK_ESCAPE) {
        if (screen == Screen::Failed) backFromFailure(state);
        else requestClose(state);
    } else if (key == 0x43) {
        if (screen == Screen::Failed) copyDetails(state);
    } else if (key == VK_SPACE) {
        if (screen == Screen::ConfirmUninstall) toggleRemoveData(state);
    }
}

namespace {

// True when the clipboard took the report.
bool putOnClipboard(const WindowState& state) {
    if (!OpenClipboard(state.window)) return false;
    ScopeGuard closeClipboard([] { CloseClipboard(); });
    EmptyClipboard();
    size_t bytes = (state.report.size() + 1) * sizeof(wchar_t);
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
    if (!memory) return false;
    void* target = GlobalLock(memory);
    if (!target) {
        GlobalFree(memory);
        return false;
    }
    memcpy(target, state.report.c_str(), bytes);
    GlobalUnlock(memory);
    // The clipboard owns the memory only once the hand-over worked.
    if (windowSeams().setClipboardData(CF_UNICODETEXT, memory)) return true;
    GlobalFree(memory);
    return false;
}

}  // namespace

void copyDetails(WindowState& state) {
    // "Copied" must not promise what the clipboard does not hold.
    if (!putOnClipboard(state)) return;
    state.copiedAt = GetTickCount64();
    layoutButtons(state);
    buttonChanged(state, copyButton(state), EVENT_OBJECT_NAMECHANGE);
}

void resetCopiedLabel(WindowState& state) {
    if (state.screen != Screen::Failed || state.copiedAt == 0) return;
    if (GetTickCount64() - state.copiedAt <= copiedShowMs) return;
    state.copiedAt = 0;
    state.relayoutPending = true;
    layoutButtons(state);
    buttonChanged(state, copyButton(state), EVENT_OBJECT_NAMECHANGE);
}

std::wstring installFolderFor(const std::wstring& picked) {
    std::wstring full = fullPath(picked);
    if (!equalsIgnoreCase(fileNamePart(full), L"QuorvelAI")) full = joinPath(full, L"QuorvelAI");
    return fullPath(full);
}

void chooseFolder(WindowState& state) {
    ComPtr<IFileOpenDialog> dialog;
    if (FAILED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IFileOpenDialog, dialog.putVoid())))
        return;
    FILEOPENDIALOGOPTIONS options = 0;
    dialog->GetOptions(&options);
    dialog->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM | FOS_PATHMUSTEXIST);
    dialog->SetTitle(uiText(state, TX_CHOOSE_FOLDER).c_str());
    ComPtr<IShellItem> item;
    if (FAILED(dialog->Show(state.window)) || FAILED(dialog->GetResult(item.put()))) {
        repaint(state);
        return;
    }
    PWSTR path = nullptr;
    if (SUCCEEDED(item->GetDisplayName(SIGDN_FILESYSPATH, &path)) && path) {
        ScopeGuard freePath([path] { CoTaskMemFree(path); });
        state.folder = installFolderFor(path);
        state.note.clear();
    }
    repaint(state);
}

}  // namespace qv
