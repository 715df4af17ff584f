// How setup steps report progress and learn that the user wants to stop.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace qv {

// Which status line a step reports. A window in another language shows
// its own sentence for it, filled with the values of the English text that
// goes along (the log and silent runs keep the English).
enum class StatusLine : int32_t {
    Other = 0,
    CheckingLatest = 1,
    CheckingEarlierDownload = 2,
    Downloading = 3,
    CheckingDownload = 4,
    Installing = 5,
    Finishing = 6,
    WaitingForApp = 7,
    Removing = 8,
};

// (bytes done, bytes total; 0 when unknown) -> true to go on, false to stop.
// Used by the download, the hashing and the unpack.
using ProgressCallback = std::function<bool(uint64_t done, uint64_t total)>;

// Called on the thread that runs the steps; implementations must not block
// for long (keepWaitingForApp may take about a second).
class Progress {
public:
    virtual ~Progress() = default;
    // The main status line; callers pass finished text.
    virtual void setStatus(const std::wstring& text) = 0;
    // The same with the line's id; by default the id is dropped.
    virtual void reportStatus(StatusLine, const std::wstring& text) { setStatus(text); }
    // 0.0 to 1.0 for a known fraction, negative for work of unknown length.
    virtual void setProgress(double fraction) = 0;
    // The line under the status (amount and speed); empty clears it.
    virtual void setDetail(const std::wstring& text) = 0;
    virtual bool isCancelled() = 0;
    // Asked when the application is still open after its deadline: true
    // means tell the user to close it and keep waiting.
    virtual bool keepWaitingForApp() = 0;
};

// The progress of silent runs: status lines go to the log, nothing else is
// shown, and nobody can cancel.
class SilentProgress final : public Progress {
public:
    void setStatus(const std::wstring& text) override;
    void setProgress(double) override {}
    void setDetail(const std::wstring&) override {}
    bool isCancelled() override { return false; }
    bool keepWaitingForApp() override { return false; }
};

}  // namespace qv
