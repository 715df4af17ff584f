#include "window_fixture.h"

#include "setup/window/drawing/window_drawing.h"

#include "setup/release/http_client.h"

namespace qv::test {

SetupError makeError(const wchar_t* code, bool retryable) {
    SetupError error;
    error.code = code;
    error.message = L"The stand-in step failed.";
    error.detail = L"line one\nline two";
    error.retryable = retryable;
    return error;
}

FakeSteps::FakeSteps()
    : entered(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      release(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      nextRun(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

void FakeSteps::finish(SetupContext& context) {
    // Read before entered is signalled: a test may then set the next call's end.
    StepEnd how = end;
    SetEvent(entered.get());
    switch (how) {
    case StepEnd::Succeed:
        return;
    case StepEnd::Fail:
        throw failure;
    case StepEnd::UntilCancelled:
        // As the real steps do: the flag, or the client's cancelled state.
        while (!context.progress->isCancelled()) Sleep(2);
        throw SetupError::cancelled();
    case StepEnd::UntilReleased:
        WaitForSingleObject(release.get(), INFINITE);
        return;
    case StepEnd::IgnoreCancel:
        WaitForSingleObject(release.get(), INFINITE);
        context.progress->setStatus(L"Late status after the window went");
        throw SetupError::cancelled();
    case StepEnd::UntilNextRun:
        WaitForSingleObject(nextRun.get(), 10000);
        return;
    }
}

WindowSteps FakeSteps::steps() {
    WindowSteps s;
    s.discoverRelease = [this](SetupContext& context) {
        ++discoverCalls;
        // The real client answers every request with "Cancelled" once its
        // cancel event is set.
        if (context.http->cancelled()) throw SetupError::cancelled();
        context.releaseVersion = L"1.2.3";
        context.releaseKnown = true;
    };
    s.checkFolder = [this](const SetupContext&, const std::wstring& folder, std::wstring* code) {
        if (folder == fallback) return std::wstring();
        if (code) *code = problemCode;
        return problem;
    };
    s.findFallback = [this](const SetupContext&) {
        ++fallbackCalls;
        return fallback;
    };
    s.shortProblem = [](const std::wstring& code, const std::wstring& text) {
        return L"[" + code + L"|" + text + L"]";
    };
    s.install = [this](SetupContext& context, const std::wstring& folder) {
        ++installCalls;
        installedFolder = folder;
        // As the real install begins: a set flag or a cancelled client ends it.
        if (context.http->cancelled() || context.progress->isCancelled())
            throw SetupError::cancelled();
        finish(context);
    };
    s.uninstall = [this](SetupContext& context, const std::wstring& root) {
        ++uninstallCalls;
        uninstalledRoot = root;
        uninstallRemoveData = context.removeData;
        finish(context);
    };
    return s;
}

WindowHarness::WindowHarness(FakeSteps& fake, SetupMode mode, bool askFirst, SetupOptions options,
                             const std::wstring& folder)
    : fake_(fake),
      window_(std::make_unique<SetupWindow>(options, mode, folder, askFirst, fake.steps())) {
    state().instance = GetModuleHandleW(nullptr);
    // A quit message left by an earlier window would end nothing here.
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    }
}

WindowHarness::~WindowHarness() {
    SetEvent(fake_.release.get());
    // Only a real worker ends a run; a test may set busy without one.
    bool workerRuns = state().worker && WaitForSingleObject(state().worker.get(), 0) == WAIT_TIMEOUT;
    if (state().busy && workerRuns) {
        state().cancelRequested = true;
        waitIdle();
    }
    if (state().worker) WaitForSingleObject(state().worker.get(), 5000);
    window_.reset();
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    }
}

void WindowHarness::start() {
    if (!createWindow(state())) return;
    showFirstScreen(state());
}

LRESULT WindowHarness::send(UINT message, WPARAM wParam, LPARAM lParam) {
    return SendMessageW(state().window, message, wParam, lParam);
}

bool WindowHarness::pumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
    ULONGLONG end = GetTickCount64() + timeoutMs;
    while (!done()) {
        if (GetTickCount64() > end) return false;
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if (!done()) MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
    return true;
}

bool WindowHarness::waitIdle(DWORD timeoutMs) {
    return pumpUntil([this] { return !state().busy; }, timeoutMs);
}

}  // namespace qv::test
