// Progress for the console: status and amount lines on standard output,
// and Ctrl+C as the user's cancel.
#pragma once

#include "setup/core/progress.h"

#include <atomic>
#include <string>

namespace qv {

class HttpClient;

// Writes text and a line end to standard output: UTF-16 to a console,
// UTF-8 to a file or pipe.
void writeLine(const std::wstring& text);

class ConsoleProgress final : public Progress {
public:
    // Ctrl+C cancels the steps and the client's transfer in flight.
    explicit ConsoleProgress(HttpClient& client);
    ~ConsoleProgress() override;
    ConsoleProgress(const ConsoleProgress&) = delete;
    ConsoleProgress& operator=(const ConsoleProgress&) = delete;

    void setStatus(const std::wstring& text) override;
    void setProgress(double fraction) override { fraction_ = fraction; }
    void setDetail(const std::wstring& text) override;
    bool isCancelled() override { return cancelled_; }
    bool keepWaitingForApp() override { return false; }

private:
    double fraction_ = -1;
    std::atomic<bool> cancelled_{false};
};

}  // namespace qv
