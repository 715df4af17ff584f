// Stand-in steps and a harness that creates the setup window on the test's
// thread and drives its procedure with messages.
#pragma once

#include "setup/window/screens/setup_window.h"
#include "setup/window/screens/window_seams.h"
#include "setup/window/screens/window_state.h"

#include "foundation/handles.h"

#include <atomic>
#include <functional>
#include <memory>
#include <string>

namespace qv::test {

// What the stand-in install or uninstall does. UntilNextRun returns once
// the test has started the next run (nextRun set): the run lock keeps the
// next worker's steps from beginning before this one returns.
enum class StepEnd { Succeed, Fail, UntilCancelled, UntilReleased, IgnoreCancel, UntilNextRun };

struct FakeSteps {
    FakeSteps();

    // The folder check answers this for every folder but fallback.
    std::wstring problem, problemCode;
    std::wstring fallback;  // what findFallback returns
    std::atomic<StepEnd> end{StepEnd::Succeed};
    SetupError failure;  // thrown for StepEnd::Fail

    std::atomic<int> discoverCalls{0}, fallbackCalls{0}, installCalls{0}, uninstallCalls{0};
    std::wstring installedFolder, uninstalledRoot;  // read after the run
    bool uninstallRemoveData = false;
    KernelHandle entered;  // set when the install or uninstall step starts
    KernelHandle release;  // ends UntilReleased and IgnoreCancel
    KernelHandle nextRun;  // ends UntilNextRun

    WindowSteps steps();

private:
    void finish(SetupContext& context);
};

class WindowHarness {
public:
    WindowHarness(FakeSteps& fake, SetupMode mode, bool askFirst, SetupOptions options = {},
                  const std::wstring& folder = L"C:\\Proposed\\QuorvelAI");
    ~WindowHarness();

    WindowState& state() { return window_->state(); }
    SetupWindow& window() { return *window_; }
    // Creates the window and shows the first screen.
    void start();
    LRESULT send(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
    // Dispatches messages until done() holds; false after timeoutMs.
    bool pumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 5000);
    // Pumps until the current run ended (not busy any more).
    bool waitIdle(DWORD timeoutMs = 5000);
    bool closed() { return state().window == nullptr; }

private:
    FakeSteps& fake_;
    std::unique_ptr<SetupWindow> window_;
};

SetupError makeError(const wchar_t* code, bool retryable);

// Puts the window's platform seams back as they were.
class SeamsRestorer {
public:
    ~SeamsRestorer() { windowSeams() = saved_; }

private:
    WindowSeams saved_ = windowSeams();
};

// A checking allocator for one object: whether the object at the address
// was deleted since watchDeletion was called with it.
void watchDeletion(const void* address);
bool watchedWasDeleted();

}  // namespace qv::test
