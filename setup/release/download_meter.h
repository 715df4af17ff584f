// The amount-and-speed line shown while the payload downloads. Time comes in
// from the caller, so the meter itself is plain arithmetic.
#pragma once

#include <cstdint>
#include <string>

namespace qv {

// "%.1f MB" of bytes / 1048576.
std::wstring megabytesText(uint64_t bytes);

// "5.0 MB of 10.0 MB", followed by "  ·  2.0 MB/s" when the speed is known
// (bytesPerSecond > 0).
std::wstring downloadDetailText(uint64_t done, uint64_t total, double bytesPerSecond);

// Samples the speed at most once a second (smoothed) and lets the display
// change at most every 100 ms, plus the call that reports the last byte.
class DownloadMeter {
public:
    // nowMs: the tick count when the pass starts; startBytes: what the
    // partial file held then; payloadSize: the total shown when the server
    // gives none.
    DownloadMeter(uint64_t nowMs, uint64_t startBytes, uint64_t payloadSize);

    // Feeds one progress report. True when the display should change; then
    // detail holds the new line and fraction the share done (negative when
    // total is unknown: leave the bar as it is).
    bool update(uint64_t nowMs, uint64_t done, uint64_t total, std::wstring& detail,
                double& fraction);

    double speed() const { return speed_; }

private:
    uint64_t lastSampleMs_;
    uint64_t bytesAtSample_;
    double speed_ = 0;
    uint64_t lastShownMs_ = 0;
    uint64_t payloadSize_;
};

}  // namespace qv
