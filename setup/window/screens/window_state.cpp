#include "setup/window/screens/window_state.h"

#include "setup/window/drawing/window_drawing.h"
#include "setup/window/screens/window_seams.h"
#include "setup/window/texts/window_texts.h"
#include "setup/window/screens/worker.h"

#include "setup/core/timings.h"

#include "foundation/log.h"
#include "foundation/system_facts.h"

namespace qv {
namespace {
void onFinished(WindowState& state, std::unique_ptr<SetupError> error);
}  // namespace

WindowState::WindowState(SetupWindow* owner_, const SetupOptions& options_, SetupMode mode_,
                         const std::wstring& folder_, bool askFirst_, WindowSteps steps_)
    : owner(owner_),
      options(options_),
      mode(mode_),
      folder(folder_),
      askFirst(askFirst_),
      steps(std::move(steps_)),
      httpClient(userAgent),
      context(options, &progress, &httpClient),
      texts(Texts::load(chooseLanguage(options_.language, {}))),
      startTick(GetTickCount64()) {}

void repaint(WindowState& state) {
    if (state.window && !IsIconic(state.window)) InvalidateRect(state.window, nullptr, FALSE);
}

void closeWindow(WindowState& state) {
    if (state.window) DestroyWindow(state.window);
}

void setScreen(WindowState& state, Screen screen) {
    state.screen = screen;
    state.hoverId = 0;
    state.pressedId = 0;
    layoutButtons(state);
    screenChanged(state);
    repaint(state);
}

void startRun(WindowState& state) {
    state.cancelRequested.exchange(false);
    // The client outlives every run; a cancel of an earlier run must not
    // end this one before it starts.
    state.httpClient.ResetCancel();
    state.busy = true;
    state.status.clear();
    state.statusLine = StatusLine::Other;
    state.detail.clear();
    state.targetFraction = -1.0;
    state.shownFraction = 0.0;
    state.error.reset();
    setScreen(state, Screen::Working);
    // The previous thread has posted its last message already.
    state.worker.reset();
    state.worker.reset(windowSeams().startThread(workerMain, &state));
    if (state.worker) return;
    DWORD code = GetLastError();
    // Nothing ran, but the user asked for a run: a failure, not a cancel
    // that might close the window without a word.
    onFinished(state, std::make_unique<SetupError>(
                          L"QV-WIN-1", L"The setup could not start its work. Try again.",
                          L"CreateThread: " + windowsErrorText(code), true));
}

void showFirstScreen(WindowState& state) {
    if (state.mode == SetupMode::Uninstall) {
        if (state.options.confirmed) startRun(state);
        else setScreen(state, Screen::ConfirmUninstall);
        return;
    }
    if (state.askFirst) setScreen(state, Screen::Welcome);
    else startRun(state);
}

void requestClose(WindowState& state) {
    if (!state.busy) {
        closeWindow(state);
        return;
    }
    if (state.cancelRequested.exchange(true)) return;
    state.httpClient.Cancel();
    logInfo(L"Cancelled by the user");
    cancelStarted(state);
    repaint(state);
}

void backFromFailure(WindowState& state) {
    if (!state.askFirst || state.mode != SetupMode::Install) {
        closeWindow(state);
        return;
    }
    state.note = state.error ? state.error->message : std::wstring();
    setScreen(state, Screen::Welcome);
}

namespace {

void onProgress(WindowState& state, WPARAM wParam) {
    auto thousandths = static_cast<int32_t>(static_cast<uint32_t>(wParam));
    double value = thousandths < 0 ? -1.0 : thousandths / 1000.0;
    if (value >= 0) {
        if (state.targetFraction < 0) state.shownFraction = 0;
        // The bar never shows more than was reported.
        if (value < state.shownFraction) state.shownFraction = value;
    }
    state.targetFraction = value;
}

void onFinished(WindowState& state, std::unique_ptr<SetupError> error) {
    state.busy = false;
    if (!error) {
        state.succeeded = true;
        if (state.mode == SetupMode::Uninstall) {
            setScreen(state, Screen::Removed);
        } else {
            setScreen(state, Screen::Done);
            if (state.window) SetTimer(state.window, DoneTimer, timings().doneCloseMs, nullptr);
        }
        return;
    }
    if (error->code == L"QV-CANCEL") {
        if (state.askFirst && state.mode == SetupMode::Install) {
            state.note.clear();
            setScreen(state, Screen::Welcome);
        } else {
            closeWindow(state);
        }
        return;
    }
    state.error = std::move(error);
    state.report = reportWithShownMessage(
        errorReport(*state.error, state.folder,
                    state.context.releaseKnown ? state.context.releaseVersion : L""),
        state.error->message, shownErrorMessage(state.texts, *state.error));
    setScreen(state, Screen::Failed);
    if (state.window) {
        FLASHWINFO flash{sizeof(flash), state.window, FLASHW_TRAY | FLASHW_TIMERNOFG, 3, 0};
        FlashWindowEx(&flash);
    }
}

// A worker whose last message was lost (PostMessageW failed) would leave
// the run busy for ever, and a busy window does not close. A message posted
// before the thread ended is queued by the time its handle is signalled, so
// an ended worker with no last message queued has lost it.
void noticeLostEnd(WindowState& state) {
    if (!state.busy || !state.worker || !state.window) return;
    if (WaitForSingleObject(state.worker.get(), 0) != WAIT_OBJECT_0) return;
    MSG queued;
    if (PeekMessageW(&queued, state.window, MsgFinished, MsgFolderProblem, PM_NOREMOVE | PM_NOYIELD))
        return;
    onFinished(state, std::make_unique<SetupError>(
                          L"QV-WIN-2", L"The setup lost track of its work. Try again.",
                          L"The worker ended without reporting its result.", true));
}

void onFolderProblem(WindowState& state, std::unique_ptr<std::wstring> fallback,
                     std::unique_ptr<std::wstring> note) {
    state.busy = false;
    state.note = note ? *note : std::wstring();
    if (fallback && !fallback->empty()) state.folder = *fallback;
    setScreen(state, Screen::Welcome);
}

}  // namespace

bool handleStateMessage(WindowState& state, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case MsgStatus: {
        std::unique_ptr<std::wstring> text(reinterpret_cast<std::wstring*>(lParam));
        if (text) state.status = *text;
        state.statusLine = static_cast<StatusLine>(wParam);
        if (state.screen == Screen::WaitingForApp) setScreen(state, Screen::Working);
        return true;
    }
    case MsgDetail: {
        std::unique_ptr<std::wstring> text(reinterpret_cast<std::wstring*>(lParam));
        if (text) state.detail = *text;
        return true;
    }
    case MsgProgress:
        onProgress(state, wParam);
        return true;
    case MsgWaitingForApp:
        if (state.screen == Screen::Working) setScreen(state, Screen::WaitingForApp);
        return true;
    case MsgFinished:
        onFinished(state, std::unique_ptr<SetupError>(reinterpret_cast<SetupError*>(lParam)));
        return true;
    case MsgFolderProblem:
        onFolderProblem(state, std::unique_ptr<std::wstring>(reinterpret_cast<std::wstring*>(wParam)),
                        std::unique_ptr<std::wstring>(reinterpret_cast<std::wstring*>(lParam)));
        return true;
    case WM_TIMER:
        if (wParam == DoneTimer) {
            KillTimer(state.window, DoneTimer);
            closeWindow(state);
        } else if (wParam == AnimationTimer) {
            noticeLostEnd(state);
            animationTick(state);
        }
        return true;
    default:
        return false;
    }
}

}  // namespace qv
