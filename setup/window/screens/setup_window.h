// The setup program's window: screens, the worker thread that runs the
// steps, drawing and input.
#pragma once

#include "setup/core/options.h"
#include "setup/core/progress.h"
#include "setup/window/screens/window_steps.h"

#include <windows.h>

#include <memory>
#include <string>

namespace qv {

struct WindowState;

class SetupWindow final : public Progress {
public:
    // folder is the install folder, or the install root for Uninstall. No
    // window exists until run.
    SetupWindow(const SetupOptions& options, SetupMode mode, const std::wstring& folder,
                bool askFirst);
    // The same with other steps than the real ones.
    SetupWindow(const SetupOptions& options, SetupMode mode, const std::wstring& folder,
                bool askFirst, WindowSteps steps);
    ~SetupWindow() override;
    SetupWindow(const SetupWindow&) = delete;
    SetupWindow& operator=(const SetupWindow&) = delete;

    // Shows the window and runs its message loop; returns the exit code:
    // 0 when the last run succeeded, else 1.
    int run(HINSTANCE instance);

    // The window's state, for the window's own files and its tests.
    WindowState& state() { return *state_; }

    // Progress, called on the worker thread.
    void setStatus(const std::wstring& text) override;
    void setProgress(double fraction) override;
    void setDetail(const std::wstring& text) override;
    bool isCancelled() override;
    bool keepWaitingForApp() override;

private:
    // Owned; left alive on purpose when the worker has not ended by the
    // destructor (it outlived the join after the loop), because that thread
    // still uses it.
    std::unique_ptr<WindowState> state_;
};

}  // namespace qv
