// A qv::Progress for release tests: records what the steps report and can
// play a user who cancels at a chosen moment.
#pragma once

#include "setup/core/progress.h"

#include <atomic>
#include <functional>
#include <string>
#include <vector>

namespace qv::test {

class RecordingProgress final : public Progress {
public:
    void setStatus(const std::wstring& text) override {
        statuses.push_back(text);
        if (!cancelOnStatus.empty() && text == cancelOnStatus) cancel = true;
    }
    void setProgress(double fraction) override { fractions.push_back(fraction); }
    void setDetail(const std::wstring& text) override {
        details.push_back(text);
        if (cancelAfterDetails > 0 && details.size() >= cancelAfterDetails) {
            cancel = true;
            if (onCancel) onCancel();
        }
    }
    bool isCancelled() override { return cancel; }
    bool keepWaitingForApp() override { return false; }

    std::vector<std::wstring> statuses;
    std::vector<std::wstring> details;
    std::vector<double> fractions;
    std::atomic<bool> cancel{false};
    std::wstring cancelOnStatus;   // cancel once this status is shown
    size_t cancelAfterDetails = 0; // cancel once this many details were shown
    std::function<void()> onCancel;
};

}  // namespace qv::test
