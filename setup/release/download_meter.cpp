#include "download_meter.h"

#include "foundation/text.h"

namespace qv {
namespace {

constexpr double megabyte = 1048576.0;
constexpr uint64_t sampleEveryMs = 1000;
constexpr uint64_t showEveryMs = 100;

}  // namespace

std::wstring megabytesText(uint64_t bytes) {
    return formatText(L"%.1f MB", static_cast<double>(bytes) / megabyte);
}

std::wstring downloadDetailText(uint64_t done, uint64_t total, double bytesPerSecond) {
    std::wstring text = megabytesText(done) + L" of " + megabytesText(total);
    if (bytesPerSecond > 0)
        text += formatText(L"  \u00B7  %.1f MB/s", bytesPerSecond / megabyte);
    return text;
}

DownloadMeter::DownloadMeter(uint64_t nowMs, uint64_t startBytes, uint64_t payloadSize)
    : lastSampleMs_(nowMs), bytesAtSample_(startBytes), payloadSize_(payloadSize) {}

bool DownloadMeter::update(uint64_t nowMs, uint64_t done, uint64_t total, std::wstring& detail,
                           double& fraction) {
    if (nowMs - lastSampleMs_ >= sampleEveryMs) {
        // A restarted pass can report fewer bytes than the last sample.
        double moved = done >= bytesAtSample_ ? static_cast<double>(done - bytesAtSample_) : 0.0;
        double instant = moved * 1000.0 / static_cast<double>(nowMs - lastSampleMs_);
        // Smoothed, so that one slow second does not make the figure jump.
        speed_ = speed_ == 0 ? instant : 0.3 * instant + 0.7 * speed_;
        lastSampleMs_ = nowMs;
        bytesAtSample_ = done;
    }
    if (nowMs - lastShownMs_ < showEveryMs && done != total) return false;
    lastShownMs_ = nowMs;
    fraction = total != 0 ? static_cast<double>(done) / static_cast<double>(total) : -1.0;
    detail = downloadDetailText(done, total != 0 ? total : payloadSize_, speed_);
    return true;
}

}  // namespace qv
