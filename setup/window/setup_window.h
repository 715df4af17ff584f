// The setup program's window: screens, the worker thread that runs the
// steps, drawing and input.
#pragma once

#include "setup/core/options.h"
#include "setup/core/progress.h"

#include <windows.h>

#include <memory>
#include <string>

namespace qv {

class SetupWindow final : public Progress {
public:
    SetupWindow(const SetupOptions& options, SetupMode mode, const std::wstring& folder,
                bool askFirst);
    ~SetupWindow() override;
    SetupWindow(const SetupWindow&) = delete;
    SetupWindow& operator=(const SetupWindow&) = delete;

    // Shows the window and runs its message loop; returns the exit code.
    int run(HINSTANCE instance);

    // Progress, called on the worker thread.
    void setStatus(const std::wstring& text) override;
    void setProgress(double fraction) override;
    void setDetail(const std::wstring& text) override;
    bool isCancelled() override;
    bool keepWaitingForApp() override;

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace qv
