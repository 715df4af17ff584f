#include "setup/window/screens/worker.h"

#include "setup/core/timings.h"
#include "setup/install/run_lock.h"

#include "foundation/log.h"

namespace qv {
namespace {

// Hands a heap object to the window thread; frees it when the window is
// gone, since nobody would receive it.
template <typename T>
void postOwned(WindowState& state, UINT message, WPARAM wParam, std::unique_ptr<T> object) {
    HWND target = state.postTarget.load();
    if (target && PostMessageW(target, message, wParam, reinterpret_cast<LPARAM>(object.get())))
        object.release();
}

void postText(WindowState& state, UINT message, const std::wstring& text) {
    postOwned(state, message, 0, std::make_unique<std::wstring>(text));
}

void postFolderProblem(WindowState& state, const std::wstring& fallback, const std::wstring& note) {
    HWND target = state.postTarget.load();
    auto fallbackCopy = std::make_unique<std::wstring>(fallback);
    auto noteCopy = std::make_unique<std::wstring>(note);
    if (target && PostMessageW(target, MsgFolderProblem,
                               reinterpret_cast<WPARAM>(fallbackCopy.get()),
                               reinterpret_cast<LPARAM>(noteCopy.get()))) {
        fallbackCopy.release();
        noteCopy.release();
    }
}

// A folder named with --dir is the user's choice and is never swapped for
// another; only the proposed folder of a fresh install may fall back.
bool mayFallBack(const WindowState& state) {
    return state.options.dir.empty() && state.mode == SetupMode::Install;
}

// The folder-problem error of a run that cannot ask: its problem was logged
// by the check already, so it is built without another ERROR line.
SetupError folderError(const std::wstring& code, const std::wstring& problem,
                       const std::wstring& folder) {
    SetupError error;
    error.code = code;
    error.message = problem;
    error.detail = folder;
    error.retryable = true;
    return error;
}

}  // namespace

void WorkerProgress::setStatus(const std::wstring& text) { postText(state_, MsgStatus, text); }

void WorkerProgress::reportStatus(StatusLine line, const std::wstring& text) {
    postOwned(state_, MsgStatus, static_cast<WPARAM>(line), std::make_unique<std::wstring>(text));
}

void WorkerProgress::setDetail(const std::wstring& text) { postText(state_, MsgDetail, text); }

void WorkerProgress::setProgress(double fraction) {
    int32_t thousandths = fraction < 0 ? -1 : static_cast<int32_t>(fraction * 1000);
    HWND target = state_.postTarget.load();
    if (target)
        PostMessageW(target, MsgProgress, static_cast<WPARAM>(static_cast<intptr_t>(thousandths)),
                     0);
}

bool WorkerProgress::isCancelled() { return state_.cancelRequested.load(); }

bool WorkerProgress::keepWaitingForApp() {
    HWND target = state_.postTarget.load();
    if (target) PostMessageW(target, MsgWaitingForApp, 0, 0);
    Sleep(timings().keepWaitingPauseMs);
    return !state_.cancelRequested.load();
}

bool runWorkerSteps(WindowState& state) {
    if (state.mode == SetupMode::Uninstall) {
        SetupOptions options = state.options;
        options.removeData = options.removeData || state.removeDataChecked;
        SetupContext context(options, &state.progress, &state.httpClient);
        state.steps.uninstall(context, state.folder);
        return true;
    }
    SetupContext& context = state.context;
    // Held from before the folder check, which makes and removes the folder,
    // to the end of the install (which takes it again on this thread).
    SetupRunLock lock(context);
    if (!context.releaseKnown) state.steps.discoverRelease(context);
    std::wstring code;
    std::wstring problem = state.steps.checkFolder(context, state.folder, &code);
    if (!problem.empty()) {
        std::wstring fallback = mayFallBack(state) ? state.steps.findFallback(context) : L"";
        if (state.askFirst) {
            std::wstring note = problem;
            if (!fallback.empty())
                note = state.steps.shortProblem(code, problem) + L" Using " + fallback +
                       L" instead.";
            postFolderProblem(state, fallback, note);
            return false;
        }
        if (fallback.empty()) throw folderError(code, problem, state.folder);
        logWarn(L"Default folder unusable, using %ls", fallback.c_str());
        // The window thread leaves folder alone while the run is busy.
        state.folder = fallback;
    }
    state.steps.install(context, state.folder);
    return true;
}

// Nothing of the state is touched after the last post: the window may start
// the next run as soon as it has that message.
DWORD WINAPI workerMain(void* parameter) {
    auto& state = *static_cast<WindowState*>(parameter);
    {
        ComApartment apartment;
        try {
            if (runWorkerSteps(state)) postOwned<SetupError>(state, MsgFinished, 0, nullptr);
        } catch (const SetupError& error) {
            postOwned(state, MsgFinished, 0, std::make_unique<SetupError>(error));
        }
    }
    return 0;
}

}  // namespace qv
