// The window's life: creation, the first screen, the message loop and the
// wait for the worker afterwards.
#include "setup/window/screens/setup_window.h"

#include "setup/window/drawing/window_drawing.h"
#include "setup/window/screens/window_seams.h"
#include "setup/window/screens/window_state.h"
#include "setup/window/texts/window_texts.h"

#include "setup/core/timings.h"

#include "foundation/log.h"

namespace qv {
namespace {

void showInFront(HWND window) {
    ShowWindow(window, SW_SHOW);
    SetForegroundWindow(window);
    if (GetForegroundWindow() == window) return;
    FLASHWINFO flash{sizeof(flash), window, FLASHW_TRAY | FLASHW_TIMERNOFG, 0, 0};
    FlashWindowEx(&flash);
}

// The worker may be blocked in a request that a cancel cannot end; the
// process must not wait for it forever. A worker that did not end keeps its
// handle, which tells the destructor to leave the state alone.
void joinWorker(WindowState& state) {
    if (!state.worker) return;
    state.cancelRequested.exchange(true);
    state.httpClient.Cancel();
    if (WaitForSingleObject(state.worker.get(), timings().workerJoinMs) == WAIT_OBJECT_0) {
        state.worker.reset();
        return;
    }
    logWarn(L"The setup's worker did not end within %lu ms", timings().workerJoinMs);
}

// Asked of the thread itself, so that nothing an earlier worker writes late
// can decide it.
bool workerStillRuns(const WindowState& state) {
    return state.worker && WaitForSingleObject(state.worker.get(), 0) != WAIT_OBJECT_0;
}

void showStartFailure(const WindowState& state) {
    windowSeams().showError(windowTitle(state), uiText(state, TX_BOX_NO_WINDOW));
}

}  // namespace

SetupWindow::SetupWindow(const SetupOptions& options, SetupMode mode, const std::wstring& folder,
                         bool askFirst, WindowSteps steps)
    : state_(std::make_unique<WindowState>(this, options, mode, folder, askFirst, std::move(steps))) {}

SetupWindow::~SetupWindow() {
    if (state_->window) DestroyWindow(state_->window);
    releaseDrawing(*state_);
    // A worker still running uses the state: leave it to the process's end.
    if (workerStillRuns(*state_)) state_.release();
}

int SetupWindow::run(HINSTANCE instance) {
    WindowState& state = *state_;
    state.instance = instance;
    if (createWindow(state)) {
        showFirstScreen(state);
        if (state.window) showInFront(state.window);
        MSG message;
        while (GetMessageW(&message, nullptr, 0, 0) > 0) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    } else {
        showStartFailure(state);
    }
    joinWorker(state);
    releaseDrawing(state);
    return state.succeeded ? 0 : 1;
}

void SetupWindow::setStatus(const std::wstring& text) { state_->progress.setStatus(text); }
void SetupWindow::setProgress(double fraction) { state_->progress.setProgress(fraction); }
void SetupWindow::setDetail(const std::wstring& text) { state_->progress.setDetail(text); }
bool SetupWindow::isCancelled() { return state_->progress.isCancelled(); }
bool SetupWindow::keepWaitingForApp() { return state_->progress.keepWaitingForApp(); }

}  // namespace qv
